// The run's ways to its servers; see ServerRoutes.h.
#include "update/ServerRoutes.h"

#include "framework/SupportLog.h"

namespace {

// What the settings resolve to: "" for direct, else the proxy list.
std::string ProxyOf(HINTERNET hRoot) {
    // INTERNET_PROXY_INFO and the texts it points to, in one buffer.
    alignas(INTERNET_PROXY_INFO) char buffer[2048] = {};
    DWORD nSize = sizeof buffer;
    if (!InternetQueryOptionA(hRoot, INTERNET_OPTION_PROXY, buffer, &nSize)) {
        // Settings that don't fit this buffer still name some proxy.
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? "(settings)" : "";
    }
    const INTERNET_PROXY_INFO* pInfo = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer);
    if (pInfo->dwAccessType == INTERNET_OPEN_TYPE_DIRECT) return "";
    const char* pszProxy = reinterpret_cast<const char*>(pInfo->lpszProxy);
    return pszProxy && *pszProxy ? std::string(pszProxy) : std::string("(automatic)");
}

HINTERNET ConnectTo(HINTERNET hRoot, const std::string& strHost, unsigned short nPort) {
    return InternetConnectA(hRoot, strHost.c_str(), nPort, "", "", INTERNET_SERVICE_HTTP, 0, 0);
}

}  // namespace

bool IsProxyFailure(int nStatus, DWORD dwSendError) {
    if (nStatus == 502 || nStatus == 504) return true;
    if (nStatus != 0) return false;
    return dwSendError == ERROR_INTERNET_CANNOT_CONNECT || dwSendError == ERROR_INTERNET_NAME_NOT_RESOLVED ||
           dwSendError == ERROR_INTERNET_TIMEOUT || dwSendError == ERROR_INTERNET_CONNECTION_RESET ||
           dwSendError == ERROR_INTERNET_CONNECTION_ABORTED;
}

bool ServerRoutes::Open(const char* pszAgent) {
    Close();
    m_strAgent = pszAgent;
    m_root.Reset(InternetOpenA(pszAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!m_root.IsValid()) return false;
    m_strProxy = ProxyOf(m_root.Get());
    return true;
}

void ServerRoutes::Connect(const std::vector<std::pair<std::string, unsigned short>>& servers) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const auto& server : servers) {
        m_routes.push_back(std::make_unique<Route>());
        Route& route = *m_routes.back();
        route.strHost = server.first;
        route.nPort = server.second;
        route.viaSettings.Reset(ConnectTo(m_root.Get(), route.strHost, route.nPort));
    }
}

void ServerRoutes::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_routes.clear();
    m_directRoot.Reset();
    m_root.Reset();
    m_strProxy.clear();
}

size_t ServerRoutes::Count() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_routes.size();
}

HINTERNET ServerRoutes::Root(size_t i) const {
    std::lock_guard<std::mutex> lock(m_lock);
    return i < m_routes.size() && m_routes[i]->bDirect ? m_directRoot.Get() : m_root.Get();
}

HINTERNET ServerRoutes::Connection(size_t i) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (i >= m_routes.size()) return nullptr;
    const Route& route = *m_routes[i];
    return route.bDirect ? route.direct.Get() : route.viaSettings.Get();
}

// The routes live as long as the run's transfers, and never move.
std::atomic<bool>* ServerRoutes::SingleRanges(size_t i) const {
    std::lock_guard<std::mutex> lock(m_lock);
    return i < m_routes.size() ? &m_routes[i]->bSingleRanges : nullptr;
}

HINTERNET ServerRoutes::DirectAfterProxyFailure(size_t i, HINTERNET hFailed) {
    HINTERNET hDirect = nullptr;
    std::string strServer;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_strProxy.empty() || i >= m_routes.size()) return nullptr;
        Route& route = *m_routes[i];
        if (route.bNoDirect) return nullptr;
        // Another transfer already sent this server direct: follow it.
        if (route.bDirect) return hFailed == route.direct.Get() ? nullptr : route.direct.Get();
        if (hFailed != route.viaSettings.Get()) return nullptr;
        // Neither call contacts the network, so holding the lock costs nothing.
        if (!m_directRoot.IsValid())
            m_directRoot.Reset(InternetOpenA(m_strAgent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        if (!m_directRoot.IsValid()) return nullptr;
        route.direct.Reset(ConnectTo(m_directRoot.Get(), route.strHost, route.nPort));
        if (!route.direct.IsValid()) return nullptr;
        route.bDirect = true;
        hDirect = route.direct.Get();
        strServer = route.strHost + ":" + std::to_string(route.nPort);
    }
    fw::LogFormat("route: %s can't be reached through the proxy; trying it directly", strServer.c_str());
    return hDirect;
}

void ServerRoutes::DirectFailed(size_t i) {
    std::string strServer;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (i >= m_routes.size() || m_routes[i]->bNoDirect) return;
        Route& route = *m_routes[i];
        route.bNoDirect = true;
        // A transfer may still read from the direct connection: it stays open
        // until the run closes its routes.
        route.bDirect = false;
        strServer = route.strHost + ":" + std::to_string(route.nPort);
    }
    fw::LogFormat("route: %s can't be reached directly either; back to the proxy", strServer.c_str());
}

FetchResult ServerRoutes::Try(size_t i, const HttpFetcher& fetcher, const fw::CancelToken& cancel,
                              const Attempt& attempt, int* pnTries) {
    HINTERNET hConnect = Connection(i);
    ++*pnTries;
    FetchResult result = attempt(Root(i), hConnect);
    const TransferReport& report = fetcher.LastReport();
    if (IsFinal(result) || cancel.IsCancelled() || !IsProxyFailure(report.nStatus, report.dwSendError)) return result;
    HINTERNET hDirect = DirectAfterProxyFailure(i, hConnect);
    if (hDirect == nullptr) return result;
    ++*pnTries;
    result = attempt(Root(i), hDirect);
    if (result != FETCH_DONE && report.nStatus == 0 && report.dwSendError != 0) DirectFailed(i);
    return result;
}
