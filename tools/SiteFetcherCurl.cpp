// The site fetcher of the native publisher, on libcurl.
#include <curl/curl.h>

#include "tools/SiteFetcher.h"

namespace {

// Bytes outside the plain URL characters go percent-encoded; the server
// decodes them back into the very bytes the client sends.
std::string EncodePath(const std::string& strPath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strOut;
    for (unsigned char c : strPath) {
        bool bPlain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (bPlain) {
            strOut += static_cast<char>(c);
        } else {
            strOut += '%';
            strOut += kHex[c >> 4];
            strOut += kHex[c & 15];
        }
    }
    return strOut;
}

size_t OnBody(char* p, size_t nSize, size_t nCount, void* pSink) {
    (*static_cast<const BodySink*>(pSink))(p, nSize * nCount);
    return nSize * nCount;
}

struct CurlCloser {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};

class CurlFetcher : public SiteFetcher {
public:
    CurlFetcher(CURL* h, const SiteAddress& address)
        : m_curl(h), m_strBase("http://" + address.m_strHost + ":" + std::to_string(address.m_nPort)) {}

    bool Get(const std::string& strPath, const BodySink& onData, int& nStatus, std::string& strError) override {
        CURL* h = m_curl.get();
        std::string strUrl = m_strBase + EncodePath(strPath);
        curl_easy_setopt(h, CURLOPT_URL, strUrl.c_str());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &onData);
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
    curl_easy_setopt(h, CURLOPT_USERAGENT, "publish-check");
    return std::unique_ptr<SiteFetcher>(new CurlFetcher(h, address));
}
