// The temporary file of a download; see PartFile.h.
#include "net/PartFile.h"

#include <mmsystem.h>

#include "framework/Mbcs.h"
#include "framework/SupportLog.h"
#include "net/TransferMath.h"

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
    fw::LogFailure(szText);
}

}  // namespace

PartFile::PartFile(const std::string& strTarget)
    : m_strTarget(strTarget), m_strTemp(TempPathFor(strTarget)) {
    if (m_strTemp.size() + 2 < MAX_PATH) m_strNote = m_strTemp + ".v";
}

PartFile::~PartFile() {
    if (m_bPending) Discard();
}

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

// The note: the validator, then a line feed and the whole file's size in
// decimal (a note of an older version holds the validator alone).
uint64_t PartFile::Resumable(std::string* pValidator) {
    char szNote[512] = {};
    DWORD nNote = 0;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    bool bFound = false;
    if (!m_strNote.empty() && GetFileAttributesExA(m_strTemp.c_str(), GetFileExInfoStandard, &data)) {
        fw::UniqueHandle note(CreateFileA(m_strNote.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        bFound = note.IsValid() && ReadFile(note.Get(), szNote, sizeof(szNote) - 1, &nNote, nullptr) && nNote > 0;
    }
    uint64_t nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    std::string strNote(szNote, nNote);
    size_t nBreak = strNote.find('\n');
    uint64_t nTotal = 0;
    if (nBreak != std::string::npos && !ParseContentLength(strNote.c_str() + nBreak + 1, &nTotal)) bFound = false;
    bool bWhole = nTotal != 0 && nSize >= nTotal;
    if (!bFound || nSize == 0 || bWhole || nBreak == 0) {
        m_bPending = true;  // whatever lies there is stale
        Discard();
        return 0;
    }
    pValidator->assign(strNote, 0, nBreak);
    // Ours from now on: removed on the way out unless kept again.
    m_bPending = true;
    m_bNoted = true;
    return nSize;
}

bool PartFile::Open(DWORD dwDisposition) {
    // A stale one from a cut transfer may carry attributes that block CREATE_ALWAYS.
    SetFileAttributesA(m_strTemp.c_str(), FILE_ATTRIBUTE_NORMAL);
    m_file.Reset();  // our own handle would refuse the new one
    m_file.Reset(CreateFileA(m_strTemp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, dwDisposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.IsValid()) {
        DebugError("CreateFileA", GetLastError());
        return false;
    }
    m_bPending = true;
    return true;
}

bool PartFile::Create() {
    if (!m_strNote.empty()) DeleteFileA(m_strNote.c_str());
    m_bNoted = false;
    return Open(CREATE_ALWAYS);
}

bool PartFile::Append(uint64_t nKeep) {
    if (!Open(OPEN_EXISTING)) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(m_file.Get(), &size)) return false;
    if (static_cast<uint64_t>(size.QuadPart) > nKeep) {
        LARGE_INTEGER keep = {};
        keep.QuadPart = static_cast<LONGLONG>(nKeep);
        if (!SetFilePointerEx(m_file.Get(), keep, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file.Get())) return false;
    }
    LARGE_INTEGER zero = {};
    return SetFilePointerEx(m_file.Get(), zero, nullptr, FILE_END) != FALSE;
}

bool PartFile::ReadExisting(const std::function<void(const void*, size_t)>& fn, const std::atomic<bool>& bAbort) {
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(m_file.Get(), zero, nullptr, FILE_BEGIN)) return false;
    std::string buffer(256 * 1024, '\0');
    for (;;) {
        if (bAbort.load()) return false;
        DWORD nRead = 0;
        if (!ReadFile(m_file.Get(), &buffer[0], static_cast<DWORD>(buffer.size()), &nRead, nullptr)) return false;
        if (nRead == 0) return true;
        fn(buffer.data(), nRead);
    }
}

bool PartFile::Note(const std::string& strValidator, uint64_t nTotal) {
    std::string strNote = strValidator + "\n" + std::to_string(nTotal);
    if (m_strNote.empty() || strValidator.empty() || strNote.size() >= 500) return false;
    fw::UniqueHandle note(CreateFileA(m_strNote.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD nWritten = 0;
    m_bNoted = note.IsValid() &&
               WriteFile(note.Get(), strNote.data(), static_cast<DWORD>(strNote.size()), &nWritten, nullptr) &&
               nWritten == strNote.size();
    if (!m_bNoted && note.IsValid()) {
        note.Reset();
        DeleteFileA(m_strNote.c_str());
    }
    return m_bNoted;
}

void PartFile::Keep() {
    m_file.Reset();
    if (!m_bNoted) {
        Discard();
        return;
    }
    m_bPending = false;
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
    // Replacing a read-only file is refused however long one waits.
    DWORD dwAttributes = GetFileAttributesA(m_strTarget.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(m_strTarget.c_str(), dwAttributes & ~FILE_ATTRIBUTE_READONLY);
    const DWORD dwStart = timeGetTime();
    for (;;) {
        if (MoveFileExA(m_strTemp.c_str(), m_strTarget.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            m_bPending = false;
            if (!m_strNote.empty()) DeleteFileA(m_strNote.c_str());
            m_bNoted = false;
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
    if (m_bPending && !DeleteFileA(m_strTemp.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        DebugError("DeleteFileA", GetLastError());
    if (!m_strNote.empty()) DeleteFileA(m_strNote.c_str());
    m_bPending = false;
    m_bNoted = false;
}

}  // namespace net
