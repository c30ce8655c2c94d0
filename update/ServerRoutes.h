// The run's ways to its servers. Requests go as the system's Internet settings
// say (a proxy, automatic configuration, or none); a server that the proxy
// can't reach is tried once more directly, and keeps the way that worked for
// the rest of the run.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/CancelToken.h"
#include "framework/Handles.h"
#include "net/HttpFetcher.h"

class ServerRoutes {
public:
    ServerRoutes() = default;
    ~ServerRoutes() { Close(); }
    ServerRoutes(const ServerRoutes&) = delete;
    ServerRoutes& operator=(const ServerRoutes&) = delete;

    // Opens the root with the system's settings; pszAgent goes with every
    // request. False when WinINet can't be opened at all.
    bool Open(const char* pszAgent);
    // One connection per server through that root (WinINet contacts none
    // yet); a server whose connection can't be set up has none.
    void Connect(const std::vector<std::pair<std::string, unsigned short>>& servers);
    // Connections first, then the roots.
    void Close();

    size_t Count() const;
    // Server i's way now: the root its redirects start from, and its connection.
    HINTERNET Root(size_t i) const;
    HINTERNET Connection(size_t i) const;
    // What server i's answers taught its transfers: it takes one span per request.
    std::atomic<bool>* SingleRanges(size_t i) const;
    // "direct", or the proxy the system's settings name, for the log.
    std::string Describe() const { return m_strProxy.empty() ? "direct" : "proxy " + m_strProxy; }
    bool ViaProxy() const { return !m_strProxy.empty(); }

    // A request on hFailed, server i's proxy way, failed as a proxy fails:
    // the direct connection to try it once more on, or nullptr where there
    // is no proxy or going direct has already failed for that server.
    HINTERNET DirectAfterProxyFailure(size_t i, HINTERNET hFailed);
    // The direct try came to no answer either: server i goes back to the
    // proxy, and is not sent direct again.
    void DirectFailed(size_t i);

    // An attempt on server i's way now, given its root and connection; where
    // the proxy failed it, once more directly. The direct way stays the
    // server's when it brought an answer. *pnTries counts the attempts.
    using Attempt = std::function<FetchResult(HINTERNET hRoot, HINTERNET hConnect)>;
    FetchResult Try(size_t i, const HttpFetcher& fetcher, const fw::CancelToken& cancel, const Attempt& attempt,
                    int* pnTries);

private:
    struct Route {
        std::string strHost;
        unsigned short nPort = 0;
        fw::InternetHandle viaSettings;
        fw::InternetHandle direct;
        bool bDirect = false;     // requests go direct now
        bool bNoDirect = false;   // direct was tried and failed
        std::atomic<bool> bSingleRanges{false};
    };

    mutable std::mutex m_lock;  // guards the routes' ways; nothing slow runs under it
    fw::InternetHandle m_root;
    fw::InternetHandle m_directRoot;
    std::string m_strAgent;
    std::string m_strProxy;  // empty: the settings say direct
    std::vector<std::unique_ptr<Route>> m_routes;
};

// How a failed request tells that the proxy, not the server, is at fault:
// no connection to it at all, or its 502/504 for the server.
bool IsProxyFailure(int nStatus, DWORD dwSendError);
