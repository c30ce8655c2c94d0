// The site fetcher of publish.exe, on WinINet as the client itself.
#include <windows.h>
#include <wininet.h>

#include "framework/Handles.h"
#include "net/RequestShape.h"
#include "tools/SiteFetcher.h"

namespace {

// The client's flags but that redirects are followed here by WinINet (the
// client follows them itself); anything more, a reload say, would change what
// a cache sees.
const DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI |
                            INTERNET_FLAG_NO_COOKIES;

std::string Failed(const char* pszCall) { return std::string(pszCall) + " failed, error " + std::to_string(GetLastError()); }

class WinInetFetcher : public SiteFetcher {
public:
    bool Open(const SiteAddress& address, std::string& strError) {
        m_root.Reset(InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        if (!m_root.IsValid()) return (strError = Failed("InternetOpen"), false);
        m_connect.Reset(InternetConnectA(m_root.Get(), address.m_strHost.c_str(), address.m_nPort, "", "",
                                         INTERNET_SERVICE_HTTP, 0, 0));
        if (!m_connect.IsValid()) return (strError = Failed("InternetConnect"), false);
        return true;
    }

    bool Get(const std::string& strAddress, bool bRevalidate, const BodySink& onData, int& nStatus,
             std::string& strError) override {
        fw::InternetHandle request(HttpOpenRequestA(m_connect.Get(), "GET", strAddress.c_str(), "HTTP/1.1", nullptr,
                                                    nullptr, kRequestFlags, 0));
        if (!request.IsValid()) return (strError = Failed("HttpOpenRequest"), false);
        const char* pszHeaders = bRevalidate ? net::kRevalidateHeaders : nullptr;
        if (!HttpSendRequestA(request.Get(), pszHeaders, pszHeaders ? static_cast<DWORD>(strlen(pszHeaders)) : 0,
                              nullptr, 0))
            return (strError = Failed("HttpSendRequest"), false);
        DWORD nCode = 0, nSize = sizeof nCode;
        if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &nCode, &nSize, nullptr))
            return (strError = Failed("HttpQueryInfo"), false);
        nStatus = static_cast<int>(nCode);
        char buffer[64 * 1024];
        DWORD nRead = 0;
        for (;;) {
            if (!InternetReadFile(request.Get(), buffer, sizeof buffer, &nRead)) return (strError = Failed("InternetReadFile"), false);
            if (nRead == 0) return true;
            onData(buffer, nRead);
        }
    }

private:
    // Declared in this order so that the connection closes before its session.
    fw::InternetHandle m_root;
    fw::InternetHandle m_connect;
};

}  // namespace

bool SiteFetchStartup() { return true; }

void SiteFetchCleanup() {}

std::unique_ptr<SiteFetcher> OpenSiteFetcher(const SiteAddress& address, std::string& strError) {
    std::unique_ptr<WinInetFetcher> fetcher(new WinInetFetcher());
    if (!fetcher->Open(address, strError)) return nullptr;
    return std::unique_ptr<SiteFetcher>(fetcher.release());
}
