// The temporary file of a download; see PartFile.h.
#include "net/PartFile.h"

#include <mmsystem.h>

namespace net {
namespace {

constexpr DWORD kReplaceRetryMs = 100;
constexpr DWORD kReplaceGiveUpMs = 5000;

// Errors of a target that someone else holds open for a moment.
bool IsTargetBusy(DWORD dwError) {
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_ACCESS_DENIED ||
           dwError == ERROR_LOCK_VIOLATION || dwError == ERROR_USER_MAPPED_FILE;
}

void DebugError(const char* pszCall, DWORD dwError) {
    char szText[128];
    wsprintfA(szText, "PartFile: %s failed, error %lu", pszCall, dwError);
    OutputDebugStringA(szText);
}

}  // namespace

PartFile::~PartFile() { Discard(); }

std::string PartFile::TempPathFor(const std::string& strTarget) {
    return strTarget + ".part";
}

bool PartFile::Create(const std::string& strTarget) {
    Discard();
    m_strTarget = strTarget;
    m_strTemp = TempPathFor(strTarget);
    // A stale one from a cut transfer may carry attributes that block CREATE_ALWAYS.
    SetFileAttributesA(m_strTemp.c_str(), FILE_ATTRIBUTE_NORMAL);
    m_file.Reset(CreateFileA(m_strTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.IsValid()) {
        DebugError("CreateFileA", GetLastError());
        return false;
    }
    m_bPending = true;
    return true;
}

bool PartFile::Write(const void* pData, DWORD n) {
    DWORD nWritten = 0;
    if (!WriteFile(m_file.Get(), pData, n, &nWritten, nullptr) || nWritten != n) {
        DebugError("WriteFile", GetLastError());
        return false;
    }
    return true;
}

bool PartFile::Commit(const std::atomic<bool>& bAbort) {
    if (!FlushFileBuffers(m_file.Get())) {
        DebugError("FlushFileBuffers", GetLastError());
        return false;
    }
    m_file.Reset();
    const DWORD dwStart = timeGetTime();
    for (;;) {
        if (MoveFileExA(m_strTemp.c_str(), m_strTarget.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            m_bPending = false;
            return true;
        }
        DWORD dwError = GetLastError();
        if (!IsTargetBusy(dwError) || bAbort.load() || timeGetTime() - dwStart >= kReplaceGiveUpMs) {
            DebugError("MoveFileExA", dwError);
            return false;
        }
        Sleep(kReplaceRetryMs);
    }
}

void PartFile::Discard() {
    m_file.Reset();
    if (m_bPending && !DeleteFileA(m_strTemp.c_str())) DebugError("DeleteFileA", GetLastError());
    m_bPending = false;
}

}  // namespace net
