// The publisher's logic: walks a release folder, decides what the client can
// take, formats the file list and writes the site tree a static server serves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One entry of the published list.
struct PublishEntry {
    std::string m_strDir;     // as listed: "/" for the release root, else a\b
    std::string m_strName;
    bool m_bFolder = false;
    std::string m_strRelPath;  // path below the release folder, joined with "/"
    uint32_t m_nCrc = 0;       // folders carry 0
};

// A path the client couldn't take as it is, and why.
struct PublishProblem {
    std::string m_strRelPath;
    std::string m_strReason;
};

struct ReleaseScan {
    std::vector<PublishEntry> m_entries;
    std::vector<PublishProblem> m_problems;
};

// Why one name on disk can't be published, or nullptr when it can.
const char* NameProblem(const std::string& strName, bool bFolder);
// Why a product name can't be used in the site's paths, or nullptr.
const char* ProductProblem(const std::string& strProduct);

// Walks the release folder in byte order: each folder's entry before its
// contents. Refused paths (and everything below a refused folder) go to
// m_problems. False with strError for a release that can't be published at all.
bool ScanRelease(const std::string& strRoot, ReleaseScan& scan, std::string& strError);

// The list text: CR LF lines, signed checksums, and a closing line that is no
// entry, so that clients which drop the last line lose nothing.
std::string FormatFileList(const std::vector<PublishEntry>& entries);
extern const char* const LIST_END_LINE;

// Writes <site>/kroupdate/<product>/release/... and then filelist.list beside
// it. Files are copied under temporary names and moved into place, the list last.
bool WriteSite(const std::string& strRoot, const std::string& strSite, const std::string& strProduct,
               const std::vector<PublishEntry>& entries, std::string& strError);
