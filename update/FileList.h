// Entries of the server's file list, the local scan and the comparison that
// yields the work list. No Windows header here: the reader and the comparison
// also build natively for fuzzing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum EntryKind {
    ENTRY_FILE = 0,
    ENTRY_DIR = 1,
};

struct FileEntry {
    std::string m_strDir;   // "/" or "\\" for the program folder itself
    std::string m_strName;
    uint32_t m_nCrc = 0;
    int m_nKind = ENTRY_FILE;
    // Local scan, signed mode: the installed copy is not the signed file,
    // whatever its checksum says.
    bool m_bNotAsSigned = false;
};

// Appends every (safe) entry of the list file to remote.
void ReadFileList(const char* pszPath, std::vector<FileEntry>& remote);
// The work list: the entries to fetch or create, in list order.
std::vector<FileEntry> BuildUpdateList(const std::vector<FileEntry>& remote, const std::vector<FileEntry>& local);
// Longest folder or name field a list line may carry.
const size_t LIST_FIELD_MAX = 9999;
// One line of the list without its LF: "folder:name:number" and white space
// after the number. False for a blank or malformed line. Only the file's first
// line keeps leading white space as part of its folder.
bool ParseListLine(const char* pLine, size_t nLen, bool bFirstLine, FileEntry& entry);
