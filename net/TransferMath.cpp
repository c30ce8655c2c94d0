// Arithmetic of a transfer; see TransferMath.h.
#include "net/TransferMath.h"

namespace net {

namespace {

// Decimal digits at p, at most kMaxFileBytes; p moves past them.
bool ReadNumber(const char*& p, uint64_t* pnValue) {
    const char* pStart = p;
    uint64_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        uint64_t nDigit = static_cast<uint64_t>(*p - '0');
        if (n > (kMaxFileBytes - nDigit) / 10) return false;
        n = n * 10 + nDigit;
    }
    *pnValue = n;
    return p != pStart;
}

void SkipBlanks(const char*& p) {
    while (*p == ' ' || *p == '\t') ++p;
}

}  // namespace

bool ParseContentLength(const char* pszText, uint64_t* pnLength) {
    if (pszText == nullptr) return false;
    const char* p = pszText;
    uint64_t nValue = 0;
    if (!ReadNumber(p, &nValue) || *p != '\0') return false;
    *pnLength = nValue;
    return true;
}

bool ParseContentRange(const char* pszText, uint64_t* pnFirst, uint64_t* pnLast, uint64_t* pnTotal) {
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
    *pnFirst = nFirst;
    *pnLast = nLast;
    *pnTotal = nTotal;
    return true;
}

int ProgressShare(uint64_t nReceived, uint64_t nSize) {
    if (nSize == 0 || nReceived >= nSize) return 10000;
    // Divide first, then scale, in floating point: the share the window shows.
    double dShare = static_cast<double>(nReceived) / static_cast<double>(nSize) * 10000.0;
    return static_cast<int>(dShare);
}

uint32_t NextReadSize(uint32_t nAvailable, uint64_t nReceived, uint32_t nElapsedMs, uint32_t nBufferSize) {
    if (nAvailable == 0 || nAvailable >= nBufferSize) return nBufferSize;
    // The first bytes often came with the headers: under 50 ms they say
    // nothing about the line, so the rate never counts less time than that.
    const uint32_t kRateFloorMs = 50;
    // Past 2^54 bytes the product could wrap; such a line fills any buffer.
    if (nReceived >= (1ull << 54)) return nBufferSize;
    uint64_t nSlice = nReceived * kReadSliceMs /
                      (nElapsedMs > kRateFloorMs ? nElapsedMs : kRateFloorMs);
    if (nSlice <= nAvailable) return nAvailable;
    return nSlice < nBufferSize ? static_cast<uint32_t>(nSlice) : nBufferSize;
}

int TotalProgress(int nIndex, int nCount, int nFileProgress) {
    if (nCount <= 0) return 0;
    // Two divisions, then the sum: the total the window has always shown.
    return static_cast<int>(nIndex * 10000LL / nCount + nFileProgress / nCount);
}

uint32_t BytesPerSecond(uint64_t nBytes, uint32_t nElapsedMs) {
    if (nElapsedMs == 0) return 0;
    // Bytes x 1000 must not wrap: past 2^54 bytes the rate is past 32 bits anyway.
    if (nBytes >= (1ull << 54)) return UINT32_MAX;
    uint64_t nSpeed = nBytes * 1000u / nElapsedMs;
    return nSpeed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(nSpeed);
}

}  // namespace net
