// Addresses on an update server; see ServerPaths.h.
#include "update/ServerPaths.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "framework/Mbcs.h"
#include "net/RequestShape.h"

namespace {

std::string Query(const char* pszFirst, uint64_t nFresh) {
    if (nFresh == 0) return std::string();
    char szToken[24];
    std::snprintf(szToken, sizeof szToken, "r=%llx", static_cast<unsigned long long>(nFresh));
    return pszFirst + std::string(szToken);
}

std::string Versioned(const std::string& strPath, uint32_t nCrc, uint64_t nFresh) {
    char szVersion[16];
    std::snprintf(szVersion, sizeof szVersion, "?v=%08x", static_cast<unsigned>(nCrc));
    return net::EncodeUrlPath(strPath) + szVersion + Query("&", nFresh);
}

std::string ProductPath(const std::string& strProduct) { return "/kroupdate/" + strProduct + "/"; }

}  // namespace

std::string ServerPath(const std::string& strProduct, const std::string& strTail) {
    return ProductPath(strProduct) + strTail;
}

// A trail byte of a double-byte character is never taken for a separator.
std::string ListedPath(const std::string& strDir, const std::string& strName) {
    if (strDir == "/" || strDir == "\\") return strName;
    std::string strPath;
    for (size_t i = 0; i < strDir.size(); ++i) {
        char c = strDir[i];
        if (fw::IsLeadByte936(static_cast<unsigned char>(c)) && i + 1 < strDir.size()) {
            strPath += c;
            strPath += strDir[++i];
        } else {
            strPath += c == '\\' ? '/' : c;
        }
    }
    return strPath + "/" + strName;
}


std::string ListAddress(const std::string& strProduct, uint64_t nFresh) {
    return net::EncodeUrlPath(ProductPath(strProduct) + "filelist.list") + Query("?", nFresh);
}

std::string SignatureAddress(const std::string& strProduct, uint64_t nFresh) {
    return net::EncodeUrlPath(ProductPath(strProduct) + "filelist.sig") + Query("?", nFresh);
}

std::string FileAddress(const std::string& strProduct, const std::string& strDir, const std::string& strName,
                        uint32_t nCrc, uint64_t nFresh) {
    return Versioned(ProductPath(strProduct) + "release/" + ListedPath(strDir, strName), nCrc, nFresh);
}

std::string BlockIndexAddress(const std::string& strProduct, const std::string& strDir, const std::string& strName,
                              uint32_t nCrc, uint64_t nFresh) {
    return Versioned(ProductPath(strProduct) + "blocks/" + ListedPath(strDir, strName), nCrc, nFresh);
}

std::string PatchAddress(const std::string& strProduct, const std::string& strDir, const std::string& strName,
                         const std::string& strPatchName, uint32_t nCrc, uint64_t nFresh) {
    return Versioned(ProductPath(strProduct) + "patches/" + ListedPath(strDir, strName) + "/" + strPatchName, nCrc,
                     nFresh);
}

uint64_t FreshToken() {
    static std::atomic<uint32_t> s_nCount{0};
    auto nMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count();
    return (static_cast<uint64_t>(nMicros) << 8) ^ ++s_nCount;
}
