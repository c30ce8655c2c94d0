// What the last run knew about each installed file, kept in
// "<program folder>UpdateINI\<product>\localstate.dat": size, times, volume
// and file index, and the checksum the file had then. A listed file whose
// metadata all still match its row needs no read. Anything amiss with the
// file (missing, damaged, foreign, too large, a path outside the folder)
// makes it count as empty, and the scan then reads every file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

const size_t LOCAL_STATE_MAX_BYTES = 64 * 1024 * 1024;
const size_t LOCAL_STATE_DIGEST_BYTES = 32;

struct LocalFileRow {
    // The file as the system describes it; all must match for a quick check.
    uint64_t m_nSize = 0;
    uint64_t m_nWriteTime = 0;   // FILETIME, 100 ns since 1601
    uint64_t m_nCreateTime = 0;
    uint32_t m_nVolume = 0;      // volume serial number
    uint64_t m_nFileIndex = 0;
    // What its bytes were then: the list's CRC, the signed SHA-256, or both.
    bool m_bHasCrc = false;
    uint32_t m_nCrc = 0;
    bool m_bHasSha = false;
    unsigned char m_sha256[LOCAL_STATE_DIGEST_BYTES] = {};

    bool SameFileAs(const LocalFileRow& o) const {
        return m_nSize == o.m_nSize && m_nWriteTime == o.m_nWriteTime && m_nCreateTime == o.m_nCreateTime &&
               m_nVolume == o.m_nVolume && m_nFileIndex == o.m_nFileIndex;
    }
    bool operator==(const LocalFileRow& o) const;
};

// Rows by key (see LocalStateKey).
using LocalRows = std::unordered_map<std::string, LocalFileRow>;

// The row key of a listed file: its path below the program folder with "\"
// between the parts and A-Z folded, so two spellings of one file share a row.
std::string LocalStateKey(const std::string& strDir, const std::string& strName);

// The file's bytes: a magic, a format version, a checksum of everything after
// it, the failure flag and the rows. No Windows header in these two.
std::string FormatLocalState(const LocalRows& rows, bool bLastRunFailed);
// False for anything but a whole, well-formed state of this version whose
// every path stays inside the program folder.
bool ParseLocalState(const void* pData, size_t nSize, LocalRows& rows, bool& bLastRunFailed);

class LocalState {
public:
    LocalState() = default;
    LocalState(const LocalState&) = delete;
    LocalState& operator=(const LocalState&) = delete;

    // Reads the product's state file (strProgramDir ends with a backslash);
    // forgets the rows of this run so far.
    void Load(const std::string& strProgramDir, const std::string& strProduct);
    // False when the scan must read every file: no usable state file, or the
    // product's last run ended with a failure.
    bool IsTrusted() const { return m_bTrusted; }
    // The stored row of a key when trusted, else nullptr. Read-only during a
    // run, so the scan's threads may ask at once.
    const LocalFileRow* Find(const std::string& strKey) const;

    // A row for the state this run leaves; safe from any thread.
    void Keep(const std::string& strKey, const LocalFileRow& row);
    // The row this run's scan left for a key (what an installed file's bytes
    // were when it was read); false when there is none. Safe from any thread.
    bool FindKept(const std::string& strKey, LocalFileRow& row);
    // A file the run just installed: its metadata read now, its bytes known.
    // pSha256 is the signed digest, or nullptr.
    void KeepInstalled(const std::string& strPath, const std::string& strKey, uint32_t nCrc,
                       const unsigned char* pSha256);
    // Writes this run's rows in place of the file (temporary file, flushed,
    // then moved over it), unless they and the flag are what it holds.
    bool Save(bool bRunFailed);

    static std::string PathFor(const std::string& strProgramDir, const std::string& strProduct);

private:
    std::string m_strProgramDir;
    std::string m_strProduct;
    std::string m_strPath;
    LocalRows m_rows;  // as loaded
    bool m_bLoadedFailed = false;
    bool m_bLoaded = false;
    bool m_bTrusted = false;
    std::mutex m_lock;  // guards m_next
    LocalRows m_next;
};

// The row of an open file (a HANDLE) as GetFileInformationByHandle sees it;
// false when the system can't say.
bool ReadFileRow(void* hFile, LocalFileRow& row, bool& bDirectory);
