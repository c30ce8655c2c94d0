// Looking the listed entries up under the program's folder: one read of each
// folder tells which entries exist, their sizes, times and file indexes; a
// file whose metadata (confirmed on the file itself) match the last run's row
// takes its stored checksum, any other is read and checksummed. Entries are
// shared out to one thread per core (at most four), so reads overlap.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "framework/Handles.h"
#include "framework/Sha256.h"
#include "update/Checksum.h"
#include "update/LocalScan.h"
#include "update/PathRules.h"


namespace {

const size_t kReadPiece = 256 * 1024;
const int kMaxScanThreads = 4;
// A file written this shortly before it is looked at may change again within
// the clock's step (two seconds on FAT) without its time moving: no row for it.
const uint64_t kRecentWrite = 2ull * 10000000ull;

struct ScanItem {
    bool bExists = false;
    uint32_t nCrc = 0;
    bool bNotAsSigned = false;
};

uint64_t NowFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The bytes of an open file: its CRC, or its SHA-256 when bSha, and how many
// there were (nSize only sizes the reads). False when a read fails or the run
// is called off.
bool ReadDigest(HANDLE hFile, uint64_t nSize, bool bSha, std::vector<unsigned char>& buffer,
                const std::atomic<bool>* pCancel, LocalFileRow& row, uint64_t& nTotal) {
    uint32_t nCrc = ChecksumStart();
    fw::Sha256 sha;
    if (bSha && !sha.IsValid()) return false;
    nTotal = 0;
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
    if (bSha) {
        row.m_bHasSha = sha.Finish(row.m_sha256);
        return row.m_bHasSha;
    }
    row.m_bHasCrc = true;
    row.m_nCrc = nCrc;
    return true;
}

uint64_t FileTimeOf(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The volume serial number of the program's folder, which every row carries:
// asking it per file costs a volume query each on some systems.
uint32_t VolumeOf(const std::string& strFolder) {
    fw::UniqueHandle folder(CreateFileA(strFolder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    return folder.IsValid() && GetFileInformationByHandle(folder.Get(), &info) ? info.dwVolumeSerialNumber : 0;
}

// What one read of a folder says of an entry: enough to tell that it exists,
// what it is, and (for a file) everything a state row holds but the volume.
struct FolderEntry {
    DWORD nAttributes = 0;
    uint64_t nSize = 0, nWriteTime = 0, nCreateTime = 0, nFileIndex = 0;
};

// The entries of the folders the list names, each folder read once (by the
// first thread that asks) with one enumeration: one call per folder instead
// of one per file, and under some systems an open file's own metadata query
// costs a volume lookup each.
class FolderEntries {
public:
    // False when the folder can't be read or doesn't hold the name.
    bool Find(const std::string& strFolder, const std::string& strName, FolderEntry& entry) {
        std::shared_ptr<Folder> pFolder;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            std::shared_ptr<Folder>& slot = m_folders[FoldCaseAZ(strFolder)];
            if (!slot) slot = std::make_shared<Folder>();
            pFolder = slot;
        }
        std::call_once(pFolder->once, [&] { pFolder->entries = Enumerate(strFolder); });
        auto found = pFolder->entries.find(FoldCaseAZ(strName));
        if (found == pFolder->entries.end()) return false;
        entry = found->second;
        return true;
    }

private:
    using Entries = std::unordered_map<std::string, FolderEntry>;
    struct Folder {
        std::once_flag once;
        Entries entries;
    };

    static Entries Enumerate(const std::string& strFolder) {
        Entries entries;
        fw::UniqueHandle folder(CreateFileA(strFolder.c_str(), FILE_LIST_DIRECTORY,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder.IsValid()) return entries;
        std::vector<unsigned char> buffer(64 * 1024);
        while (ReadEntries(folder.Get(), buffer)) {
            // DWORD-aligned records, each pointing to the next.
            for (size_t nAt = 0;;) {
                const IdFullDirInfo* p = reinterpret_cast<const IdFullDirInfo*>(&buffer[nAt]);
                char szName[MAX_PATH * 2];
                BOOL bLossy = FALSE;
                int n = WideCharToMultiByte(CP_ACP, 0, p->FileName, static_cast<int>(p->FileNameLength / 2), szName,
                                            sizeof szName, nullptr, &bLossy);
                // A name the code page can't spell is no listed name.
                if (n > 0 && !bLossy) entries[FoldCaseAZ(std::string(szName, static_cast<size_t>(n)))] = EntryOf(*p);
                if (p->NextEntryOffset == 0) break;
                nAt += p->NextEntryOffset;
            }
        }
        return entries;
    }

    // The next records of a folder with their file ids, through the system's
    // own query: the documented one also makes every entry's short name,
    // which costs Wine more than the quick check saves.
    struct IdFullDirInfo {  // FILE_ID_FULL_DIR_INFORMATION
        ULONG NextEntryOffset;
        ULONG FileIndex;
        LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime, EndOfFile, AllocationSize;
        ULONG FileAttributes;
        ULONG FileNameLength;
        ULONG EaSize;
        LARGE_INTEGER FileId;
        WCHAR FileName[1];
    };
    static FolderEntry EntryOf(const IdFullDirInfo& info) {
        FolderEntry entry;
        entry.nAttributes = info.FileAttributes;
        entry.nSize = static_cast<uint64_t>(info.EndOfFile.QuadPart);
        entry.nWriteTime = static_cast<uint64_t>(info.LastWriteTime.QuadPart);
        entry.nCreateTime = static_cast<uint64_t>(info.CreationTime.QuadPart);
        entry.nFileIndex = static_cast<uint64_t>(info.FileId.QuadPart);
        return entry;
    }
    static bool ReadEntries(HANDLE hFolder, std::vector<unsigned char>& buffer) {
        // The system's layout, in the 32-bit and the 64-bit program alike.
        static_assert(offsetof(IdFullDirInfo, FileId) == 72 && offsetof(IdFullDirInfo, FileName) == 80,
                      "FILE_ID_FULL_DIR_INFORMATION layout");
        struct IoStatus {
            ULONG_PTR nStatus;
            ULONG_PTR nInformation;
        };
        typedef LONG(WINAPI * QueryDirectory)(HANDLE, HANDLE, void*, void*, IoStatus*, void*, ULONG, int, BOOLEAN,
                                               void*, BOOLEAN);
        static const QueryDirectory query = reinterpret_cast<QueryDirectory>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryDirectoryFile")));
        const int kFileIdFullDirectoryInformation = 38;
        // Without it every entry is looked up on its own, as a name not found.
        if (!query) return false;
        IoStatus io = {};
        return query(hFolder, nullptr, nullptr, nullptr, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                     kFileIdFullDirectoryInformation, FALSE, nullptr, FALSE) >= 0;
    }
    std::mutex m_lock;  // guards the map only
    std::unordered_map<std::string, std::shared_ptr<Folder>> m_folders;
};

// The file's own attributes, sizes and times (not its index): for a name the
// folder's read didn't hold (another spelling), and to confirm a quick check.
bool AttributesOf(const std::string& strPath, FolderEntry& entry) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data)) return false;
    entry.nAttributes = data.dwFileAttributes;
    entry.nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entry.nWriteTime = FileTimeOf(data.ftLastWriteTime);
    entry.nCreateTime = FileTimeOf(data.ftCreationTime);
    return true;
}

class EntryScanner {
public:
    EntryScanner(const std::string& strBaseDir, const ScanContext& context)
        : m_strBase(strBaseDir), m_context(context), m_nStart(NowFileTime()),
          m_nVolume(context.pState ? VolumeOf(strBaseDir) : 0) {}

    void Scan(const FileEntry& r, ScanItem& item, std::vector<unsigned char>& buffer) {
        std::string strFolder = m_strBase + r.m_strDir;
        // "/" stays as listed: a slash before the backslash resolves to the same folder.
        if (r.m_strDir != "\\") strFolder += '\\';
        const std::string strPath = strFolder + r.m_strName;
        const bool bFile = NameHasDot(r.m_strName);
        FolderEntry found;
        const bool bIndexed = m_folders.Find(strFolder, r.m_strName, found);
        if (!bIndexed && !AttributesOf(strPath, found)) return;
        item = {true, bFile ? CHECKSUM_UNREADABLE : 0};
        // Folders, and files without a dot, are never compared.
        if (!bFile || (found.nAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
        bool bKeep = m_context.pState && bIndexed;
        const std::string strKey = bKeep ? LocalStateKey(r.m_strDir, r.m_strName) : std::string();
        const LocalFileRow* pKnown = bKeep ? m_context.pState->Find(strKey) : nullptr;
        // A folder's record of a file may lag behind the file itself on some
        // systems: what a quick check trusts comes from the file.
        if (pKnown && !AttributesOf(strPath, found)) return;
        LocalFileRow row;
        row.m_nSize = found.nSize;
        row.m_nWriteTime = found.nWriteTime;
        row.m_nCreateTime = found.nCreateTime;
        row.m_nVolume = m_nVolume;
        row.m_nFileIndex = found.nFileIndex;
        const ManifestFile* pSigned = m_context.signedFile ? m_context.signedFile(r) : nullptr;
        const bool bKnown =
            pKnown && pKnown->SameFileAs(row) && (pSigned ? pKnown->m_bHasSha : pKnown->m_bHasCrc);
        if (bKnown) {
            row = *pKnown;
        } else {
            // Metadata first, bytes after: a change in between shows as a mismatch next time.
            fw::UniqueHandle file(CreateFileA(strPath.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            uint64_t nRead = 0;
            if (!file.IsValid() ||
                !ReadDigest(file.Get(), row.m_nSize, pSigned != nullptr, buffer, m_context.pCancel, row, nRead))
                return;
            // Another size than the metadata said: the file changes under us,
            // or its folder's record lags. The bytes count; the row would lie.
            if (nRead != row.m_nSize) {
                row.m_nSize = nRead;
                bKeep = false;
            }
        }
        item.nCrc = pSigned ? r.m_nCrc : row.m_nCrc;
        item.bNotAsSigned = pSigned && !IsAsSigned(row, *pSigned);
        if (bKeep && (bKnown || row.m_nWriteTime + kRecentWrite <= m_nStart)) m_context.pState->Keep(strKey, row);
    }

private:
    // Signed mode judges size and SHA-256 alone: the file is the signed one or it differs.
    static bool IsAsSigned(const LocalFileRow& row, const ManifestFile& signedFile) {
        return row.m_bHasSha && row.m_nSize == signedFile.m_nSize &&
               std::memcmp(row.m_sha256, signedFile.m_sha256, sizeof row.m_sha256) == 0;
    }

    const std::string& m_strBase;
    const ScanContext& m_context;
    const uint64_t m_nStart;
    const uint32_t m_nVolume;
    FolderEntries m_folders;
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
    return nSlash == std::string::npos ? std::string(".\\") : std::string(szPath, nSlash + 1);
}

void ScanFilesUnder(const std::string& strBaseDir, const std::vector<FileEntry>& remote,
                    std::vector<FileEntry>& local, const ScanContext& context) {
    std::vector<ScanItem> items(remote.size());
    std::atomic<size_t> nNext{0};
    EntryScanner scanner(strBaseDir, context);
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
        local.back().m_bNotAsSigned = items[i].bNotAsSigned;
    }
}

void ScanLocalFiles(const std::vector<FileEntry>& remote, std::vector<FileEntry>& local,
                    const ScanContext& context) {
    ScanFilesUnder(FindProgramFolder(), remote, local, context);
}
