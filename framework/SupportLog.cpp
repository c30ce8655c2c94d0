// The support log; see SupportLog.h.
#include "framework/SupportLog.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace fw {
namespace {

std::mutex g_logLock;
HANDLE g_hLog = INVALID_HANDLE_VALUE;  // guarded by g_logLock
std::string g_strLogPath;
uint64_t g_nLogBytes = 0;

// One per thread: each transfer runs on one thread, so its reason is its own.
thread_local char t_szLastFailure[256];

HANDLE OpenForAppend(const std::string& strPath) {
    // Support may read or copy the log while a run writes it.
    return CreateFileA(strPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseLocked() {
    if (g_hLog != INVALID_HANDLE_VALUE) CloseHandle(g_hLog);
    g_hLog = INVALID_HANDLE_VALUE;
}

// The full log becomes "<path>.1"; where that can't be done the log starts
// over, so it never grows past its cap.
void RotateLocked() {
    CloseLocked();
    std::string strOld = g_strLogPath + ".1";
    if (!MoveFileExA(g_strLogPath.c_str(), strOld.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        SetFileAttributesA(strOld.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(strOld.c_str());
        if (!MoveFileExA(g_strLogPath.c_str(), strOld.c_str(), MOVEFILE_REPLACE_EXISTING))
            DeleteFileA(g_strLogPath.c_str());
    }
    g_hLog = OpenForAppend(g_strLogPath);
    g_nLogBytes = 0;
}

void WriteLocked(const char* pszLine, DWORD nLength) {
    if (g_hLog == INVALID_HANDLE_VALUE) return;
    if (g_nLogBytes + nLength > kSupportLogMaxBytes) RotateLocked();
    if (g_hLog == INVALID_HANDLE_VALUE) return;
    DWORD nWritten = 0;
    // A failed write (a full disk) costs the line, nothing else.
    if (WriteFile(g_hLog, pszLine, nLength, &nWritten, nullptr)) g_nLogBytes += nWritten;
}

void WriteLine(const char* pszText) {
    OutputDebugStringA(pszText);
    char szLine[kSupportLineMax + 32];
    SYSTEMTIME now;
    GetLocalTime(&now);
    int n = std::snprintf(szLine, sizeof szLine, "%04u-%02u-%02u %02u:%02u:%02u.%03u %.*s", now.wYear, now.wMonth,
                          now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, kSupportLineMax, pszText);
    if (n < 0) return;
    size_t nLength = static_cast<size_t>(n) < sizeof szLine - 2 ? static_cast<size_t>(n) : sizeof szLine - 3;
    // One event, one line: a text that brings its own line breaks keeps them out.
    for (size_t i = 24; i < nLength; ++i)
        if (szLine[i] == '\r' || szLine[i] == '\n') szLine[i] = ' ';
    szLine[nLength++] = '\r';
    szLine[nLength++] = '\n';
    std::lock_guard<std::mutex> lock(g_logLock);
    WriteLocked(szLine, static_cast<DWORD>(nLength));
}

void KeepFailure(const char* pszText) {
    std::snprintf(t_szLastFailure, sizeof t_szLastFailure, "%s", pszText);
}

}  // namespace

void OpenSupportLog(const char* pszPath) {
    std::lock_guard<std::mutex> lock(g_logLock);
    CloseLocked();
    g_strLogPath = pszPath;
    g_hLog = OpenForAppend(g_strLogPath);
    if (g_hLog == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER nSize = {};
    g_nLogBytes = GetFileSizeEx(g_hLog, &nSize) ? static_cast<uint64_t>(nSize.QuadPart) : 0;
    if (g_nLogBytes >= kSupportLogMaxBytes) RotateLocked();
}

void CloseSupportLog() {
    std::lock_guard<std::mutex> lock(g_logLock);
    CloseLocked();
}

void LogLine(const char* pszText) { WriteLine(pszText); }

void LogFormat(const char* pszFormat, ...) {
    char szText[kSupportLineMax];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);
    WriteLine(szText);
}

void LogFailure(const char* pszText) {
    KeepFailure(pszText);
    WriteLine(pszText);
}

void LogFailureFormat(const char* pszFormat, ...) {
    char szText[kSupportLineMax];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);
    LogFailure(szText);
}

const char* LastFailure() { return t_szLastFailure; }

void ClearLastFailure() { t_szLastFailure[0] = '\0'; }

}  // namespace fw
