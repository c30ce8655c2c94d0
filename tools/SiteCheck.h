// Checking a live site: the served list and every listed file, fetched the
// way the client asks for them, against the list and optionally a release.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/Publisher.h"
#include "tools/SiteFetcher.h"

struct CheckProgress {
    unsigned long long m_nFilesDone = 0, m_nFiles = 0;
    unsigned long long m_nBytesDone = 0;
};

struct CheckOptions {
    std::string m_strProduct;
    unsigned m_nParallel = 4;  // connections at once
    // A release folder the site should serve; empty to check against the list alone.
    std::string m_strRelease;
    ScanOptions m_scan;
    // The release key's public point (X||Y) to verify filelist.sig with; empty
    // to check it against the served list and files without the key (a
    // product without filelist.sig is then an unsigned one).
    std::string m_strPublicKey;
    std::function<void(const CheckProgress&)> m_onProgress;
};

// Damaged: a block index that doesn't fit the file it stands beside.
enum class Finding { Missing, Wrong, Stale, Unlisted, Failed, Damaged };

struct CheckFinding {
    Finding m_nKind;
    std::string m_strPath;  // GBK: the request path, or the path in the release
    std::string m_strDetail;
};

struct CheckReport {
    unsigned m_nListed = 0;  // files in the served list
    unsigned long long m_nBytes = 0;
    std::vector<CheckFinding> m_findings;
};

// False with strError when the check could not run at all (no list, a
// release that can't be read); otherwise every finding is in the report.
bool CheckSite(const SiteAddress& address, const CheckOptions& options, CheckReport& report, std::string& strError);
const char* FindingName(Finding nKind);
