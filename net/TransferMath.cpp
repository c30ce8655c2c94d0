// Arithmetic of a transfer; see TransferMath.h.
#include "net/TransferMath.h"

namespace net {

bool ParseContentLength(const char* pszText, uint32_t* pnLength) {
    if (pszText == nullptr || *pszText == '\0') return false;
    uint64_t nValue = 0;
    for (const char* p = pszText; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        nValue = nValue * 10 + static_cast<uint64_t>(*p - '0');
        if (nValue > UINT32_MAX) return false;
    }
    *pnLength = static_cast<uint32_t>(nValue);
    return true;
}

namespace {

bool ReadNumber(const char*& p, uint64_t* pnValue) {
    const char* pStart = p;
    uint64_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + static_cast<uint64_t>(*p - '0');
        if (n > UINT32_MAX) return false;
    }
    *pnValue = n;
    return p != pStart;
}

void SkipBlanks(const char*& p) {
    while (*p == ' ' || *p == '\t') ++p;
}

}  // namespace

bool ParseContentRange(const char* pszText, uint32_t* pnStart, uint32_t* pnTotal) {
    const char* p = pszText;
    SkipBlanks(p);
    static const char kUnit[] = "bytes";
    for (const char* u = kUnit; *u; ++u, ++p)
        if ((*p | 0x20) != *u) return false;
    SkipBlanks(p);
    uint64_t nFirst = 0, nLast = 0, nTotal = 0;
    if (!ReadNumber(p, &nFirst) || *p++ != '-' || !ReadNumber(p, &nLast) || *p++ != '/' || !ReadNumber(p, &nTotal))
        return false;
    SkipBlanks(p);
    if (*p != '\0' || nFirst > nLast || nLast >= nTotal) return false;
    *pnStart = static_cast<uint32_t>(nFirst);
    *pnTotal = static_cast<uint32_t>(nTotal);
    return true;
}

int ProgressShare(uint32_t nReceived, uint32_t nSize) {
    if (nSize == 0 || nReceived >= nSize) return 10000;
    // Divide first, then scale, in floating point: the share the window shows.
    double dShare = static_cast<double>(nReceived) / static_cast<double>(nSize) * 10000.0;
    return static_cast<int>(dShare);
}

uint32_t NextReadSize(uint32_t nAvailable, uint32_t nReceived, uint32_t nElapsedMs, uint32_t nBufferSize) {
    if (nAvailable == 0 || nAvailable >= nBufferSize) return nBufferSize;
    // The first bytes often came with the headers: under 50 ms they say
    // nothing about the line, so the rate never counts less time than that.
    const uint32_t kRateFloorMs = 50;
    uint64_t nSlice = static_cast<uint64_t>(nReceived) * kReadSliceMs /
                      (nElapsedMs > kRateFloorMs ? nElapsedMs : kRateFloorMs);
    if (nSlice <= nAvailable) return nAvailable;
    return nSlice < nBufferSize ? static_cast<uint32_t>(nSlice) : nBufferSize;
}

int TotalProgress(int nIndex, int nCount, int nFileProgress) {
    if (nCount <= 0) return 0;
    // Two divisions, then the sum: the total the window has always shown.
    return static_cast<int>(nIndex * 10000LL / nCount + nFileProgress / nCount);
}

uint32_t BytesPerSecond(uint32_t nBytes, uint32_t nElapsedMs) {
    if (nElapsedMs == 0) return 0;
    // 64 bits: bytes x 1000 passes 32 bits from about 4 MB per window.
    uint64_t nSpeed = static_cast<uint64_t>(nBytes) * 1000u / nElapsedMs;
    return nSpeed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(nSpeed);
}

}  // namespace net
