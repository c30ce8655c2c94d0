// Walking a release and refusing what the client can't take.
#include "tools/Publisher.h"

#include <algorithm>
#include <cstdio>

#include "tools/DiskFiles.h"
#include "update/FileList.h"  // LIST_FIELD_MAX
#include "update/PathRules.h"

const char* const LIST_END_LINE = "end";

namespace {

std::string JoinRel(const std::string& strRel, const std::string& strName) {
    return strRel.empty() ? strName : strRel + "/" + strName;
}

std::string JoinListDir(const std::string& strDir, const std::string& strName) {
    return strDir == "/" ? strName : strDir + "\\" + strName;
}

const char* KindProblem(DiskKind nKind) {
    if (nKind == DiskKind::Link) return "is a symbolic link (or junction); links are not followed";
    if (nKind == DiskKind::Other) return "is neither a regular file nor a folder";
    if (nKind == DiskKind::Missing) return "vanished while the release was read";
    return nullptr;
}

// Where a folder's items go: on disk, in the list and in the site.
struct FolderPlace {
    std::string m_strRel;      // on disk, "/"-joined
    std::string m_strDir;      // as listed
    std::string m_strSiteRel;  // GBK, "/"-joined
};

class ReleaseWalker {
public:
    ReleaseWalker(const std::string& strRoot, const ScanOptions& options, ReleaseScan& scan)
        : m_strRoot(strRoot), m_options(options), m_scan(scan) {}

    bool Walk(const FolderPlace& place, std::string& strError) {
        std::vector<DiskItem> items;
        if (!DiskListFolder(DiskPathOf(m_strRoot, place.m_strRel), items)) {
            strError = "can't read the folder " + (place.m_strRel.empty() ? m_strRoot : place.m_strRel);
            return false;
        }
        std::vector<std::string> taken;
        for (const DiskItem& item : items)
            if (!Visit(item, place, taken, strError)) return false;
        return true;
    }

private:
    bool Visit(const DiskItem& item, const FolderPlace& place, std::vector<std::string>& taken, std::string& strError) {
        std::string strItemRel = JoinRel(place.m_strRel, item.m_strName);
        bool bFolder = item.m_nKind == DiskKind::Dir;
        std::string strName;
        std::string strWhy = NameWhy(item, place, bFolder, strName, taken);
        if (!strWhy.empty()) {
            m_scan.m_problems.push_back({strItemRel, strWhy});
            return true;
        }
        PublishEntry entry{place.m_strDir, strName, bFolder, strItemRel, 0, 0, JoinRel(place.m_strSiteRel, strName)};
        if (!bFolder && !ReadFile(entry)) {
            m_scan.m_problems.push_back({strItemRel, "can't be read"});
            return true;
        }
        taken.push_back(strName);
        if (const char* pszSkip = SkippedByClient(entry.m_strDir, entry.m_strName))
            m_scan.m_warnings.push_back({strItemRel, pszSkip});
        if (!bFolder) {
            m_scan.m_entries.push_back(std::move(entry));
            return true;
        }
        m_scan.m_entries.push_back(entry);
        return Walk({strItemRel, JoinListDir(place.m_strDir, strName), entry.m_strSiteRel}, strError);
    }

    // Why the item can't be listed (empty when it can); its GBK name in strName.
    std::string NameWhy(const DiskItem& item, const FolderPlace& place, bool bFolder, std::string& strName,
                        const std::vector<std::string>& taken) const {
        if (const char* pszWhy = KindProblem(item.m_nKind)) return pszWhy;
#ifdef _WIN32
        // Characters the ANSI code page lacks come back from the system as "?".
        if (item.m_strName.find('?') != std::string::npos)
            return "has a character the ANSI code page (GBK) can't hold";
#endif
        if (!NameToGbk(item.m_strName, m_options.m_nNames, strName))
            return "has a name GBK can't hold, or bytes that aren't a name in the folder's encoding "
                   "(the client reads names in GBK; --names gbk takes GBK bytes as they are)";
        const char* pszWhy = NameProblem(strName, bFolder);
        if (!pszWhy && JoinListDir(place.m_strDir, strName).size() > LIST_FIELD_MAX)
            pszWhy = "lies too deep: its folder is longer than the client reads";
        if (!pszWhy) pszWhy = PathFitProblem(m_options.m_strProduct, place.m_strDir, strName, bFolder);
        if (pszWhy) return pszWhy;
        return CaseClash(strName, taken);
    }

    bool ReadFile(PublishEntry& entry) const {
        FileDigest digest;
        if (!DigestFile(DiskPathOf(m_strRoot, entry.m_strRelPath), m_options.m_digest, digest)) return false;
        entry.m_nCrc = digest.m_nCrc;
        entry.m_nSize = digest.m_nSize;
        entry.m_bHasSha256 = digest.m_bHasSha256;
        std::copy(digest.m_sha256, digest.m_sha256 + sizeof digest.m_sha256, entry.m_sha256);
        entry.m_strBlockIndex = std::move(digest.m_strBlockIndex);
        return true;
    }

    // Windows can't keep two names that differ only in letter case apart.
    static std::string CaseClash(const std::string& strName, const std::vector<std::string>& taken) {
        for (const std::string& t : taken)
            if (EqualsNoCaseAZ(t, strName))
                return "differs only in letter case from " + t + ", which Windows can't keep apart";
        return std::string();
    }

    const std::string& m_strRoot;
    const ScanOptions& m_options;
    ReleaseScan& m_scan;
};

std::string SignedDecimal(uint32_t n) {
    long long v = n > 0x7FFFFFFFu ? static_cast<long long>(n) - 0x100000000LL : static_cast<long long>(n);
    return std::to_string(v);
}

}  // namespace

std::string DiskPathOf(const std::string& strRoot, const std::string& strRel) {
    std::string strPath = strRoot;
    size_t nStart = 0;
    while (nStart <= strRel.size()) {
        size_t nEnd = strRel.find('/', nStart);
        if (nEnd == std::string::npos) nEnd = strRel.size();
        strPath = DiskJoin(strPath, strRel.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return strPath;
}

bool ScanRelease(const std::string& strRoot, const ScanOptions& options, ReleaseScan& scan, std::string& strError) {
    // The folder named on the command line may be a link (operators point
    // one at the current build); links inside the release never are followed.
    DiskKind nKind = DiskKindOf(strRoot);
    if (nKind == DiskKind::Link) nKind = DiskKindBehind(strRoot);
    if (nKind == DiskKind::Missing) {
        strError = "the release folder " + strRoot + " doesn't exist";
        return false;
    }
    if (nKind != DiskKind::Dir) {
        strError = strRoot + " is not a folder";
        return false;
    }
    ReleaseWalker walker(strRoot, options, scan);
    if (!walker.Walk({std::string(), "/", std::string()}, strError)) return false;
    if (scan.m_entries.empty() && scan.m_problems.empty()) {
        strError = "the release folder " + strRoot + " is empty";
        return false;
    }
    return true;
}

bool ScanRelease(const std::string& strRoot, ReleaseScan& scan, std::string& strError) {
    return ScanRelease(strRoot, ScanOptions(), scan, strError);
}

std::string FormatFileList(const std::vector<PublishEntry>& entries) {
    std::string strText;
    for (const PublishEntry& e : entries)
        strText += e.m_strDir + ":" + e.m_strName + ":" + SignedDecimal(e.m_nCrc) + "\r\n";
    return strText + LIST_END_LINE + "\r\n";
}
