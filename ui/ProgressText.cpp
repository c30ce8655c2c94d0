// Formatting of the status and counts lines and percentages; parsing of the product name.
#include "ui/ProgressText.h"

#include <cstdio>
#include <cstring>

#include "res/Texts.h"

std::string StatusLineText(const RunStatus& status) {
    switch (status.kind) {
    case STATUS_DOWNLOADING: return TEXT_DOWNLOADING_OPEN + status.strText + ")";
    case STATUS_FINISHED: return TEXT_FINISHED_OPEN + status.strText + ")";
    case STATUS_MESSAGE: break;
    }
    return status.strText;
}

void FormatCountsLine(char* pszBuf, size_t nCap, int nFileIndex, int nFileCount, uint64_t nSpeed,
                      uint64_t nFileSize) {
    if (nCap == 0) return;
    std::snprintf(pszBuf, nCap, TEXT_COUNTS_FMT, nFileIndex, nFileCount, static_cast<double>(nSpeed) / 1024.0,
                  static_cast<double>(nFileSize) / 1024.0);
}

void FormatPercent(char* pszBuf, size_t nCap, int nProgress) {
    if (nCap == 0) return;
    std::snprintf(pszBuf, nCap, "%.2f%%", nProgress / 100.0);
}

bool ParseProductName(const char* pszParam, char* pszBuf, size_t nCap) {
    if (nCap == 0) return false;
    std::memset(pszBuf, 0, nCap);
    if (!pszParam) return true;
    size_t nLen = std::strcspn(pszParam, ",");
    // Cutting a longer name would name some other product on the server.
    if (nLen >= nCap) return false;
    std::memcpy(pszBuf, pszParam, nLen);
    return true;
}
