// The temporary file of a download; see PartFile.h.
#include "net/PartFile.h"

#include <mmsystem.h>

#include "framework/Mbcs.h"

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
    static const char kSuffix[] = ".part";
    if (strTarget.size() + sizeof(kSuffix) - 1 < MAX_PATH) return strTarget + kSuffix;
    // A deep target: "~" and hex digits of the path's hash, no longer than the
    // target's own name, so whatever fits the target fits its temporary file.
    size_t nSlash = fw::FindLastChar(strTarget.data(), strTarget.size(), '\\');
    size_t nNameStart = nSlash == static_cast<size_t>(-1) ? 0 : nSlash + 1;
    size_t nNameLen = strTarget.size() - nNameStart;
    uint32_t nHash = 2166136261u;
    for (unsigned char c : strTarget) nHash = (nHash ^ c) * 16777619u;
    char szName[16];
    wsprintfA(szName, "~%08lx", static_cast<unsigned long>(nHash));
    size_t nKeep = nNameLen < 9 ? nNameLen : 9;
    if (nKeep < 2) nKeep = 2;
    return strTarget.substr(0, nNameStart) + std::string(szName, nKeep);
}

bool PartFile::HasRoomFor(const std::string& strTarget, uint64_t nBytes) {
    size_t nSlash = fw::FindLastChar(strTarget.data(), strTarget.size(), '\\');
    std::string strFolder = nSlash == static_cast<size_t>(-1) ? std::string(".\\") : strTarget.substr(0, nSlash + 1);
    ULARGE_INTEGER nFree = {};
    if (!GetDiskFreeSpaceExA(strFolder.c_str(), &nFree, nullptr, nullptr)) return true;
    return nBytes <= nFree.QuadPart;
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

WriteResult PartFile::Write(const void* pData, DWORD n) {
    DWORD nWritten = 0;
    BOOL bWritten = WriteFile(m_file.Get(), pData, n, &nWritten, nullptr);
    if (bWritten && nWritten == n) return WRITE_OK;
    // A short write without an error is what a full disk gives, too.
    DWORD dwError = bWritten ? ERROR_DISK_FULL : GetLastError();
    DebugError("WriteFile", dwError);
    return dwError == ERROR_DISK_FULL || dwError == ERROR_HANDLE_DISK_FULL ? WRITE_DISK_FULL : WRITE_FAILED;
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
