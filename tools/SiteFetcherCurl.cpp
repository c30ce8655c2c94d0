// The site fetcher of the native publisher, on libcurl.
#include <curl/curl.h>

#include "net/RequestShape.h"
#include "tools/SiteFetcher.h"

namespace {

size_t OnBody(char* p, size_t nSize, size_t nCount, void* pSink) {
    (*static_cast<const BodySink*>(pSink))(p, nSize * nCount);
    return nSize * nCount;
}

struct CurlCloser {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};

struct HeaderListCloser {
    void operator()(curl_slist* p) const { curl_slist_free_all(p); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListCloser>;

// The client's request headers: curl's own Accept goes (WinINet sends none),
// the revalidating lines come from the client's own text.
HeaderList ClientHeaders(bool bRevalidate) {
    curl_slist* p = curl_slist_append(nullptr, "Accept:");
    std::string strLines = bRevalidate ? net::kRevalidateHeaders : "";
    for (size_t n; (n = strLines.find("\r\n")) != std::string::npos; strLines.erase(0, n + 2))
        p = curl_slist_append(p, strLines.substr(0, n).c_str());
    return HeaderList(p);
}

class CurlFetcher : public SiteFetcher {
public:
    CurlFetcher(CURL* h, const SiteAddress& address)
        : m_curl(h), m_strBase("http://" + address.m_strHost + ":" + std::to_string(address.m_nPort)) {}

    bool Get(const std::string& strAddress, bool bRevalidate, const BodySink& onData, int& nStatus,
             std::string& strError) override {
        CURL* h = m_curl.get();
        std::string strUrl = m_strBase + strAddress;
        curl_easy_setopt(h, CURLOPT_URL, strUrl.c_str());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &onData);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, bRevalidate ? m_revalidate.get() : m_plain.get());
        CURLcode rc = curl_easy_perform(h);
        if (rc != CURLE_OK) {
            strError = curl_easy_strerror(rc);
            return false;
        }
        long nCode = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &nCode);
        nStatus = static_cast<int>(nCode);
        return true;
    }

private:
    std::unique_ptr<CURL, CurlCloser> m_curl;
    std::string m_strBase;
    HeaderList m_plain = ClientHeaders(false);
    HeaderList m_revalidate = ClientHeaders(true);
};

}  // namespace

bool SiteFetchStartup() { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }

void SiteFetchCleanup() { curl_global_cleanup(); }

std::unique_ptr<SiteFetcher> OpenSiteFetcher(const SiteAddress& address, std::string& strError) {
    CURL* h = curl_easy_init();
    if (!h) {
        strError = "can't start an HTTP session";
        return nullptr;
    }
    // Worker threads: no signals; a stalled transfer ends after 30 s below 1 byte/s.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
    return std::unique_ptr<SiteFetcher>(new CurlFetcher(h, address));
}
