// Keeping the accepted serial in a file of its own beside the product's list.
#include "update/SerialStore.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "framework/SupportLog.h"
#include "framework/WholeFile.h"
#include "update/UpdatePaths.h"

namespace {

void DebugError(const char* pszCall, DWORD dwError) {
    char szText[96];
    wsprintfA(szText, "SerialStore: %s failed, error %lu", pszCall, dwError);
    fw::LogFailure(szText);
}

std::string ProductDir(const std::string& strProgramDir, const std::string& strProduct) {
    return ProductStateFolder(strProgramDir, strProduct);
}

bool MakeFolder(const std::string& strPath) {
    if (CreateDirectoryA(strPath.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
    DebugError("CreateDirectoryA", GetLastError());
    return false;
}

}  // namespace

std::string AcceptedSerialPath(const std::string& strProgramDir, const std::string& strProduct) {
    return ProductDir(strProgramDir, strProduct) + "\\serial";
}

uint64_t ReadAcceptedSerial(const std::string& strProgramDir, const std::string& strProduct) {
    FILE* f = fopen(AcceptedSerialPath(strProgramDir, strProduct).c_str(), "rb");
    if (!f) return 0;
    char szText[32] = {};
    size_t n = fread(szText, 1, sizeof szText - 1, f);
    fclose(f);
    szText[n] = '\0';
    if (szText[0] < '0' || szText[0] > '9') return 0;
    char* pEnd = nullptr;
    unsigned long long nValue = strtoull(szText, &pEnd, 10);
    return (*pEnd == '\n' || *pEnd == '\0') ? nValue : 0;
}

bool WriteAcceptedSerial(const std::string& strProgramDir, const std::string& strProduct, uint64_t nSerial) {
    if (!MakeFolder(UpdateIniFolder(strProgramDir)) || !MakeFolder(ProductDir(strProgramDir, strProduct))) return false;
    std::string strPath = AcceptedSerialPath(strProgramDir, strProduct);
    return fw::ReplaceFileWhole(strPath, std::to_string(nSerial) + "\n", "SerialStore");
}

uint64_t UtcSecondsNow() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    uint64_t n100ns = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    // FILETIME counts 100 ns steps from 1601; 11644473600 s lie between 1601 and 1970.
    return n100ns / 10000000u - 11644473600ull;
}
