// Fetching paths from a live site over HTTP, the way the client asks for
// them: libcurl in the native publisher, WinINet in publish.exe.
#pragma once

#include <functional>
#include <memory>
#include <string>

struct SiteAddress {
    std::string m_strHost;
    unsigned short m_nPort = 80;
};

// "http://host[:port][/]"; false with strError for anything else.
bool ParseSiteAddress(const std::string& strUrl, SiteAddress& address, std::string& strError);

using BodySink = std::function<void(const char* p, size_t n)>;

// One connection's worth of requests; one fetcher per thread.
class SiteFetcher {
public:
    virtual ~SiteFetcher() = default;
    // GETs an address as ServerPaths builds it for the client, with the
    // client's headers (bRevalidate: net::kRevalidateHeaders as well), and
    // hands the body to onData. False with strError when no HTTP answer came;
    // else nStatus.
    virtual bool Get(const std::string& strAddress, bool bRevalidate, const BodySink& onData, int& nStatus,
                     std::string& strError) = 0;
};

// Once per process, before any fetcher and after the last one.
bool SiteFetchStartup();
void SiteFetchCleanup();
std::unique_ptr<SiteFetcher> OpenSiteFetcher(const SiteAddress& address, std::string& strError);
