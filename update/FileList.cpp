// Reading the server's file list and comparing it with the local scan.
// No Windows header: this also builds natively for fuzzing.
#include "update/FileList.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include "update/PathRules.h"

namespace {

// A line longer than two full fields, the colons and a generous number is
// malformed; past this the reader only looks for the line's end.
const size_t LIST_LINE_MAX = 2 * LIST_FIELD_MAX + 64;
const size_t LIST_READ_PIECE = 64 * 1024;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Digits with an optional sign, accumulated modulo 2^32 so that the signed
// and the unsigned decimal form of one 32-bit value read alike.
bool ParseNumber(const char* p, const char* pEnd, uint32_t& nValue) {
    while (p < pEnd && IsSpace(*p)) ++p;
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-')) bNegative = (*p++ == '-');
    uint32_t n = 0;
    const char* pDigits = p;
    while (p < pEnd && *p >= '0' && *p <= '9') n = n * 10u + static_cast<uint32_t>(*p++ - '0');
    if (p == pDigits) return false;
    while (p < pEnd && IsSpace(*p)) ++p;
    if (p != pEnd) return false;
    nValue = bNegative ? 0u - n : n;
    return true;
}

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

// Feeds the list's lines to ParseListLine, one bounded line buffer at a time.
class ListLineReader {
public:
    explicit ListLineReader(std::vector<FileEntry>& remote) : m_remote(remote) { m_strLine.reserve(256); }

    void Feed(const char* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            // CR, LF or both end a line; the empty lines between are blank.
            if (p[i] == '\n' || p[i] == '\r') EndLine();
            else if (m_strLine.size() < LIST_LINE_MAX) m_strLine += p[i];
            else m_bOverlong = true;
        }
    }
    // The last line counts even without a line break.
    void Finish() { EndLine(); }

private:
    void EndLine() {
        size_t nSkip = 0;
        // A byte-order mark some editors put before the first line.
        if (m_bFirst && m_strLine.compare(0, 3, "\xEF\xBB\xBF") == 0) nSkip = 3;
        FileEntry entry;
        if (!m_bOverlong &&
            ParseListLine(m_strLine.data() + nSkip, m_strLine.size() - nSkip, m_bFirst, entry) &&
            IsSafeEntry(entry.m_strDir, entry.m_strName)) {
            m_remote.push_back(std::move(entry));
        }
        m_bFirst = false;
        m_bOverlong = false;
        m_strLine.clear();
    }

    std::vector<FileEntry>& m_remote;
    std::string m_strLine;
    bool m_bFirst = true;
    bool m_bOverlong = false;
};

std::string EntryKey(const FileEntry& e) {
    return std::to_string(e.m_strDir.size()) + '|' + FoldCaseAZ(e.m_strDir) + FoldCaseAZ(e.m_strName);
}

}  // namespace

bool ParseListLine(const char* pLine, size_t nLen, bool bFirstLine, FileEntry& entry) {
    const char* p = pLine;
    const char* pEnd = pLine + nLen;
    // The white space after a number runs on into the next line's start.
    if (!bFirstLine)
        while (p < pEnd && IsSpace(*p)) ++p;
    const char* pColon1 = static_cast<const char*>(memchr(p, ':', static_cast<size_t>(pEnd - p)));
    if (!pColon1) return false;
    const char* pName = pColon1 + 1;
    const char* pColon2 = static_cast<const char*>(memchr(pName, ':', static_cast<size_t>(pEnd - pName)));
    if (!pColon2) return false;
    size_t nDir = static_cast<size_t>(pColon1 - p), nName = static_cast<size_t>(pColon2 - pName);
    if (nDir == 0 || nName == 0 || nDir > LIST_FIELD_MAX || nName > LIST_FIELD_MAX) return false;
    uint32_t nCrc = 0;
    if (!ParseNumber(pColon2 + 1, pEnd, nCrc)) return false;
    entry.m_strDir.assign(p, nDir);
    entry.m_strName.assign(pName, nName);
    entry.m_nCrc = nCrc;
    entry.m_nKind = ENTRY_FILE;
    return true;
}

void ReadFileList(const char* pszPath, std::vector<FileEntry>& remote) {
    // Opened for update on purpose: a list the program may not write is not read.
    std::unique_ptr<FILE, FileCloser> file(fopen(pszPath, "r+b"));
    if (!file) return;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[LIST_READ_PIECE]);
    if (!buffer) return;
    ListLineReader reader(remote);
    size_t n;
    while ((n = fread(buffer.get(), 1, LIST_READ_PIECE, file.get())) > 0) reader.Feed(buffer.get(), n);
    reader.Finish();
}

std::vector<FileEntry> BuildUpdateList(const std::vector<FileEntry>& remote, const std::vector<FileEntry>& local) {
    std::vector<FileEntry> work;
    // Remote entries chained by folder and name, in list order, so that each
    // local entry finds all of its matches without a pass over the whole list.
    std::unordered_map<std::string, size_t> first;
    std::vector<size_t> next(remote.size(), SIZE_MAX), last(remote.size(), SIZE_MAX);
    for (size_t i = 0; i < remote.size(); ++i) {
        auto ins = first.emplace(EntryKey(remote[i]), i);
        if (!ins.second) next[last[ins.first->second]] = i;
        last[ins.first->second] = i;
    }
    // Only lists of different lengths can name entries that don't exist locally.
    bool bFindMissing = remote.size() != local.size();
    std::vector<bool> present(remote.size(), false);
    for (const FileEntry& l : local) {
        auto it = first.find(EntryKey(l));
        if (it == first.end()) continue;
        for (size_t i = it->second; i != SIZE_MAX; i = next[i]) {
            present[i] = true;
            const FileEntry& r = remote[i];
            if ((r.m_nCrc != l.m_nCrc || l.m_bNotAsSigned) && NameHasDot(r.m_strName)) work.push_back(r);
        }
    }
    if (bFindMissing)
        for (size_t i = 0; i < remote.size(); ++i)
            if (!present[i]) work.push_back(remote[i]);
    for (FileEntry& e : work) e.m_nKind = NameHasDot(e.m_strName) ? ENTRY_FILE : ENTRY_DIR;
    return work;
}
