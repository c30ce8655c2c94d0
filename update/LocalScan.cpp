// Looking the listed entries up under the program's folder: one open and one
// metadata call per entry; a file whose metadata match the last run's row
// takes its stored checksum, any other is read and checksummed. Entries are
// shared out to one thread per core (at most four), so reads overlap.
#include <windows.h>

#include <cstring>
#include <thread>
#include <vector>

#include "framework/Handles.h"
#include "framework/Sha256.h"
#include "update/Checksum.h"
#include "update/LocalScan.h"
#include "update/PathRules.h"

std::string g_strProgramDir;

namespace {

const size_t kReadPiece = 256 * 1024;
const int kMaxScanThreads = 4;
// A file written this shortly before it is looked at may change again within
// the clock's step (two seconds on FAT) without its time moving: no row for it.
const uint64_t kRecentWrite = 2ull * 10000000ull;

struct ScanItem {
    bool bExists = false;
    uint32_t nCrc = 0;
};

uint64_t NowFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool IsMissingError(DWORD dwError) {
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND || dwError == ERROR_INVALID_NAME ||
           dwError == ERROR_BAD_NETPATH || dwError == ERROR_INVALID_DRIVE;
}

// The bytes of an open file: its CRC, or its SHA-256 when bSha. False when a
// read fails, the run is called off, or the size differs from nSize (the file
// changes under us).
bool ReadDigest(HANDLE hFile, uint64_t nSize, bool bSha, std::vector<unsigned char>& buffer,
                const std::atomic<bool>* pCancel, LocalFileRow& row) {
    uint32_t nCrc = ChecksumStart();
    fw::Sha256 sha;
    if (bSha && !sha.IsValid()) return false;
    uint64_t nTotal = 0;
    // A small file needs a buffer of its own size only.
    size_t nPiece = nSize < kReadPiece ? static_cast<size_t>(nSize) + 1 : kReadPiece;
    if (buffer.size() < nPiece) buffer.resize(nPiece);
    for (;;) {
        if (pCancel && pCancel->load()) return false;
        DWORD nRead = 0;
        if (!ReadFile(hFile, buffer.data(), static_cast<DWORD>(nPiece), &nRead, nullptr)) return false;
        if (nRead == 0) break;
        if (bSha && !sha.Update(buffer.data(), nRead)) return false;
        if (!bSha) nCrc = ChecksumUpdate(nCrc, buffer.data(), nRead);
        nTotal += nRead;
    }
    if (nTotal != nSize) return false;
    if (bSha) {
        row.m_bHasSha = sha.Finish(row.m_sha256);
        return row.m_bHasSha;
    }
    row.m_bHasCrc = true;
    row.m_nCrc = nCrc;
    return true;
}

class EntryScanner {
public:
    EntryScanner(const std::string& strBaseDir, const ScanContext& context)
        : m_strBase(strBaseDir), m_context(context), m_nStart(NowFileTime()) {}

    void Scan(const FileEntry& r, ScanItem& item, std::vector<unsigned char>& buffer) const {
        std::string strPath = m_strBase + r.m_strDir;
        // "/" stays as listed: a slash before the backslash resolves to the same folder.
        if (r.m_strDir != "\\") strPath += '\\';
        strPath += r.m_strName;
        const bool bFile = NameHasDot(r.m_strName);
        // Backup semantics: a folder opens too, so one call tells existence and kind.
        fw::UniqueHandle file(CreateFileA(strPath.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN,
                                          nullptr));
        if (!file.IsValid()) {
            // Locked or denied: it exists, but has no checksum.
            if (IsMissingError(GetLastError()) || GetFileAttributesA(strPath.c_str()) == INVALID_FILE_ATTRIBUTES)
                return;
            item = {true, bFile ? CHECKSUM_UNREADABLE : 0};
            return;
        }
        item = {true, bFile ? CHECKSUM_UNREADABLE : 0};
        // Folders, and files without a dot, are never compared.
        LocalFileRow row;
        bool bDirectory = false;
        if (!bFile || !ReadFileRow(file.Get(), row, bDirectory) || bDirectory) return;
        const ManifestFile* pSigned = m_context.signedFile ? m_context.signedFile(r) : nullptr;
        const std::string strKey = m_context.pState ? LocalStateKey(r.m_strDir, r.m_strName) : std::string();
        const LocalFileRow* pKnown = m_context.pState ? m_context.pState->Find(strKey) : nullptr;
        const bool bKnown =
            pKnown && pKnown->SameFileAs(row) && (pSigned ? pKnown->m_bHasSha : pKnown->m_bHasCrc);
        if (bKnown)
            row = *pKnown;
        else if (!ReadDigest(file.Get(), row.m_nSize, pSigned != nullptr, buffer, m_context.pCancel, row))
            return;
        item.nCrc = Verdict(r, row, pSigned);
        if (m_context.pState && (bKnown || row.m_nWriteTime + kRecentWrite <= m_nStart))
            m_context.pState->Keep(strKey, row);
    }

private:
    // Signed mode judges size and SHA-256 and speaks the comparison's language:
    // the listed CRC when the file is the signed one, anything else when not.
    static uint32_t Verdict(const FileEntry& r, const LocalFileRow& row, const ManifestFile* pSigned) {
        if (!pSigned) return row.m_nCrc;
        bool bSigned = row.m_bHasSha && row.m_nSize == pSigned->m_nSize &&
                       std::memcmp(row.m_sha256, pSigned->m_sha256, sizeof row.m_sha256) == 0;
        return bSigned ? r.m_nCrc : ~r.m_nCrc;
    }

    const std::string& m_strBase;
    const ScanContext& m_context;
    const uint64_t m_nStart;
};

int ScanThreads(const ScanContext& context, size_t nEntries) {
    int n = context.nThreads;
    if (n <= 0) {
        SYSTEM_INFO info = {};
        GetSystemInfo(&info);
        n = static_cast<int>(info.dwNumberOfProcessors);
    }
    if (n > kMaxScanThreads) n = kMaxScanThreads;
    if (static_cast<size_t>(n) > nEntries) n = static_cast<int>(nEntries);
    return n < 1 ? 1 : n;
}

}  // namespace

std::string FindProgramFolder() {
    char szPath[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    size_t nSlash = (n > 0 && n < MAX_PATH) ? MbcsFindLast(szPath, n, '\\') : std::string::npos;
    // Without a trustworthy folder, look in the current one (start-up made it
    // the program's folder): an empty prefix would turn "/" into a drive root.
    g_strProgramDir = nSlash == std::string::npos ? std::string(".\\") : std::string(szPath, nSlash + 1);
    return g_strProgramDir;
}

void ScanFilesUnder(const std::string& strBaseDir, const std::vector<FileEntry>& remote,
                    std::vector<FileEntry>& local, const ScanContext& context) {
    std::vector<ScanItem> items(remote.size());
    std::atomic<size_t> nNext{0};
    const EntryScanner scanner(strBaseDir, context);
    auto work = [&] {
        std::vector<unsigned char> buffer;
        for (size_t i; (i = nNext++) < remote.size();) {
            if (context.pCancel && context.pCancel->load()) return;
            try {
                scanner.Scan(remote[i], items[i], buffer);
            } catch (...) {
                // Nothing leaves a thread; an entry it couldn't judge is fetched.
                items[i] = {true, NameHasDot(remote[i].m_strName) ? CHECKSUM_UNREADABLE : 0};
            }
        }
    };
    std::vector<std::thread> helpers;
    for (int n = ScanThreads(context, remote.size()); n > 1; --n) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break;  // fewer threads: the calling one still gets through the list
        }
    }
    work();
    for (std::thread& t : helpers) t.join();
    if (context.pCancel && context.pCancel->load()) return;
    for (size_t i = 0; i < remote.size(); ++i) {
        if (!items[i].bExists) continue;
        local.push_back(remote[i]);
        local.back().m_nCrc = items[i].nCrc;
    }
}

void ScanLocalFiles(const std::vector<FileEntry>& remote, std::vector<FileEntry>& local,
                    const ScanContext& context) {
    ScanFilesUnder(FindProgramFolder(), remote, local, context);
}

void ScanFilesUnder(const std::string& strBaseDir, const std::vector<FileEntry>& remote,
                    std::vector<FileEntry>& local, const std::atomic<bool>* pCancel) {
    ScanContext context;
    context.pCancel = pCancel;
    ScanFilesUnder(strBaseDir, remote, local, context);
}

void ScanLocalFiles(const std::vector<FileEntry>& remote, std::vector<FileEntry>& local,
                    const std::atomic<bool>* pCancel) {
    ScanFilesUnder(FindProgramFolder(), remote, local, pCancel);
}
