// Names and bounds of the publisher's binary patches.
#include "net/PatchName.h"

#include <cstdio>

namespace net {

unsigned PatchWindowLog(uint64_t nOldSize, uint64_t nNewSize) {
    uint64_t nSpan = nOldSize + nNewSize;
    if (nSpan > PATCH_MAX_SPAN_BYTES) return 0;
    unsigned nLog = 10;  // zstd's smallest window
    while ((1ull << nLog) < nSpan) ++nLog;
    return nLog;
}

std::string PatchNameBySha256(uint64_t nBaseSize, const unsigned char sha256[32]) {
    char sz[96];
    int n = snprintf(sz, sizeof sz, "%llu-", static_cast<unsigned long long>(nBaseSize));
    for (int i = 0; i < 32; ++i) n += snprintf(sz + n, sizeof sz - n, "%02x", sha256[i]);
    return std::string(sz, static_cast<size_t>(n));
}

std::string PatchNameByCrc(uint64_t nBaseSize, uint32_t nCrc) {
    char sz[40];
    snprintf(sz, sizeof sz, "%llu-%08x", static_cast<unsigned long long>(nBaseSize), static_cast<unsigned>(nCrc));
    return sz;
}

std::string PatchManifestDir(const std::string& strListDir, const std::string& strName) {
    if (strListDir == "/" || strListDir == "\\") return "?patches\\" + strName;
    return "?patches\\" + strListDir + "\\" + strName;
}

}  // namespace net
