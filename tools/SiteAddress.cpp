// Reading the address of a site to check.
#include "tools/SiteFetcher.h"

#include <cstdlib>

bool ParseSiteAddress(const std::string& strUrl, SiteAddress& address, std::string& strError) {
    const std::string strScheme = "http://";
    if (strUrl.compare(0, strScheme.size(), strScheme) != 0) {
        strError = "the site must be given as http://host[:port] (the client speaks plain HTTP)";
        return false;
    }
    std::string strRest = strUrl.substr(strScheme.size());
    while (!strRest.empty() && strRest.back() == '/') strRest.pop_back();
    size_t nColon = strRest.rfind(':');
    std::string strPort = nColon == std::string::npos ? "80" : strRest.substr(nColon + 1);
    address.m_strHost = strRest.substr(0, nColon);
    char* pEnd = nullptr;
    long nPort = strtol(strPort.c_str(), &pEnd, 10);
    if (address.m_strHost.empty() || address.m_strHost.find('/') != std::string::npos || strPort.empty() || *pEnd ||
        nPort < 1 || nPort > 65535) {
        strError = "can't read the site address " + strUrl + " (http://host[:port])";
        return false;
    }
    address.m_nPort = static_cast<unsigned short>(nPort);
    return true;
}
