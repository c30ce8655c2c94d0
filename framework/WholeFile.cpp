#include "framework/WholeFile.h"

#include <windows.h>

#include "framework/Handles.h"
#include "framework/SupportLog.h"

namespace fw {
namespace {

void DebugError(const char* pszWho, const char* pszCall, DWORD dwError) {
    char szText[128];
    wsprintfA(szText, "%.40s: %s failed, error %lu", pszWho, pszCall, dwError);
    LogFailure(szText);
}

bool WriteFlushed(const std::string& strPath, const std::string& strBytes, const char* pszWho) {
    UniqueHandle file(CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file.IsValid()) {
        DebugError(pszWho, "CreateFileA", GetLastError());
        return false;
    }
    DWORD nWritten = 0;
    if (!WriteFile(file.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()), &nWritten, nullptr) ||
        nWritten != strBytes.size() || !FlushFileBuffers(file.Get())) {
        DebugError(pszWho, "WriteFile", GetLastError());
        return false;
    }
    return true;
}

}  // namespace

bool ReplaceFileWhole(const std::string& strPath, const std::string& strBytes, const char* pszWho) {
    const std::string strTemp = strPath + ".new";
    if (!WriteFlushed(strTemp, strBytes, pszWho)) {
        DeleteFileA(strTemp.c_str());
        return false;
    }
    if (!MoveFileExA(strTemp.c_str(), strPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DebugError(pszWho, "MoveFileExA", GetLastError());
        DeleteFileA(strTemp.c_str());
        return false;
    }
    return true;
}

}  // namespace fw
