// The publisher's logic: walks a release folder, decides what the client can
// take, formats the file list and writes the site tree a static server serves.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/FileDigest.h"
#include "tools/GbkNames.h"
#include "tools/NameRules.h"

// One entry of the published list.
struct PublishEntry {
    PublishEntry() = default;
    PublishEntry(std::string strDir, std::string strName, bool bFolder, std::string strRelPath, uint32_t nCrc,
                 uint64_t nSize = 0, std::string strSiteRel = std::string())
        : m_strDir(std::move(strDir)), m_strName(std::move(strName)), m_bFolder(bFolder),
          m_strRelPath(std::move(strRelPath)), m_nCrc(nCrc), m_nSize(nSize), m_strSiteRel(std::move(strSiteRel)) {}

    std::string m_strDir;     // GBK, as listed: "/" for the release root, else a\b
    std::string m_strName;    // GBK
    bool m_bFolder = false;
    std::string m_strRelPath;  // path below the release folder as on disk, joined with "/"
    uint32_t m_nCrc = 0;       // folders carry 0
    uint64_t m_nSize = 0;
    std::string m_strSiteRel;  // GBK path below the site's release folder, joined with "/"
    bool m_bHasSha256 = false;  // read when ScanOptions asked for it
    unsigned char m_sha256[SIGN_DIGEST_BYTES] = {};
    std::string m_strBlockIndex;  // its block index's bytes; empty: none
};

// A path the client couldn't take as it is (or skips), and why.
struct PublishProblem {
    std::string m_strRelPath;
    std::string m_strReason;
};

struct ReleaseScan {
    std::vector<PublishEntry> m_entries;
    std::vector<PublishProblem> m_problems;  // refused
    std::vector<PublishProblem> m_warnings;  // listed, but the client won't fetch them
};

struct ScanOptions {
    std::string m_strProduct;  // for the length of the client's download paths
    DiskNames m_nNames = DiskNames::Native;
    DigestWants m_digest;  // beyond size and checksum, what each file is read for
};

// Walks the release folder in byte order: each folder's entry before its
// contents. Refused paths (and everything below a refused folder) go to
// m_problems. False with strError for a release that can't be published at all.
bool ScanRelease(const std::string& strRoot, const ScanOptions& options, ReleaseScan& scan, std::string& strError);
bool ScanRelease(const std::string& strRoot, ReleaseScan& scan, std::string& strError);

// The list text: CR LF lines, signed checksums, and a closing line that is no
// entry, so that clients which drop the last line lose nothing.
std::string FormatFileList(const std::vector<PublishEntry>& entries);
extern const char* const LIST_END_LINE;


// Publishes the entries as the live release of the product with the default
// options of PublishSite (tools/SiteReleases.h).
bool WriteSite(const std::string& strRoot, const std::string& strSite, const std::string& strProduct,
               const std::vector<PublishEntry>& entries, std::string& strError);

// The entry's path below a folder, with the host's separators.
std::string DiskPathOf(const std::string& strRoot, const std::string& strRel);
