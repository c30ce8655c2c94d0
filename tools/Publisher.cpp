// Walking a release, refusing what the client can't take, writing the site.
#include "tools/Publisher.h"

#include <cstdio>

#include "tools/DiskFiles.h"
#include "update/Checksum.h"
#include "update/FileList.h"
#include "update/PathRules.h"

const char* const LIST_END_LINE = "end";

namespace {

// Characters Windows file names can't hold, or that end or escape a URL path.
const char* const NAME_BAD_CHARS = "<>\"|?*#%";

std::string JoinRel(const std::string& strRel, const std::string& strName) {
    return strRel.empty() ? strName : strRel + "/" + strName;
}

std::string JoinListDir(const std::string& strDir, const std::string& strName) {
    return strDir == "/" ? strName : strDir + "\\" + strName;
}

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

const char* KindProblem(DiskKind nKind) {
    if (nKind == DiskKind::Link) return "is a symbolic link (or junction); links are not followed";
    if (nKind == DiskKind::Other) return "is neither a regular file nor a folder";
    if (nKind == DiskKind::Missing) return "vanished while the release was read";
    return nullptr;
}

class ReleaseWalker {
public:
    ReleaseWalker(const std::string& strRoot, ReleaseScan& scan) : m_strRoot(strRoot), m_scan(scan) {}

    bool Walk(const std::string& strRel, const std::string& strDir, std::string& strError) {
        std::vector<DiskItem> items;
        if (!DiskListFolder(DiskPathOf(m_strRoot, strRel), items)) {
            strError = "can't read the folder " + (strRel.empty() ? m_strRoot : strRel);
            return false;
        }
        std::vector<std::string> taken;
        for (const DiskItem& item : items)
            if (!Visit(item, strRel, strDir, taken, strError)) return false;
        return true;
    }

private:
    bool Visit(const DiskItem& item, const std::string& strRel, const std::string& strDir,
               std::vector<std::string>& taken, std::string& strError) {
        std::string strItemRel = JoinRel(strRel, item.m_strName);
        const char* pszWhy = KindProblem(item.m_nKind);
        bool bFolder = item.m_nKind == DiskKind::Dir;
        if (!pszWhy) pszWhy = NameProblem(item.m_strName, bFolder);
        if (!pszWhy && JoinListDir(strDir, item.m_strName).size() > LIST_FIELD_MAX)
            pszWhy = "lies too deep: its folder is longer than the client reads";
        std::string strWhy = pszWhy ? pszWhy : CaseClash(item.m_strName, taken);
        if (!strWhy.empty()) {
            m_scan.m_problems.push_back({strItemRel, strWhy});
            return true;
        }
        if (!bFolder && !CanOpen(strItemRel)) {
            m_scan.m_problems.push_back({strItemRel, "can't be opened for reading"});
            return true;
        }
        taken.push_back(item.m_strName);
        PublishEntry entry{strDir, item.m_strName, bFolder, strItemRel, 0};
        if (!bFolder) entry.m_nCrc = FileChecksum(DiskPathOf(m_strRoot, strItemRel).c_str(), -1);
        m_scan.m_entries.push_back(entry);
        return !bFolder || Walk(strItemRel, JoinListDir(strDir, item.m_strName), strError);
    }

    bool CanOpen(const std::string& strRel) const {
        FILE* f = fopen(DiskPathOf(m_strRoot, strRel).c_str(), "rb");
        if (f) fclose(f);
        return f != nullptr;
    }

    // Windows can't keep two names that differ only in letter case apart.
    static std::string CaseClash(const std::string& strName, const std::vector<std::string>& taken) {
        for (const std::string& t : taken)
            if (EqualsNoCaseAZ(t, strName))
                return "differs only in letter case from " + t + ", which Windows can't keep apart";
        return std::string();
    }

    const std::string& m_strRoot;
    ReleaseScan& m_scan;
};

std::string SignedDecimal(uint32_t n) {
    long long v = n > 0x7FFFFFFFu ? static_cast<long long>(n) - 0x100000000LL : static_cast<long long>(n);
    return std::to_string(v);
}

}  // namespace

const char* NameProblem(const std::string& strName, bool bFolder) {
    if (strName.empty()) return "has an empty name";
    if (strName.find(':') != std::string::npos) return "contains \":\", which separates the fields of the list";
    for (char c : strName)
        if (static_cast<unsigned char>(c) < 0x20) return "contains a control character";
    // Even as the second byte of a GBK character: the client's download path
    // turns every backslash byte into a "/".
    if (strName.find('\\') != std::string::npos) return "contains a backslash byte, which the client takes for a folder separator";
    if (strName.find_first_of(NAME_BAD_CHARS) != std::string::npos)
        return "contains one of < > \" | ? * # %, which Windows names or download paths can't carry";
    if (strName.back() == '.' || strName.back() == ' ') return "ends in a dot or a blank, which Windows drops";
    if (!IsSafeListName(strName)) return "is not a plain name inside its folder (\"..\" or a device name such as CON)";
    if (!bFolder && !NameHasDot(strName)) return "is a file without \".\" in its name; the client would create a folder of that name";
    if (bFolder && NameHasDot(strName)) return "is a folder with \".\" in its name; the client would try to fetch it as a file";
    return nullptr;
}

const char* ProductProblem(const std::string& strProduct) {
    if (strProduct.empty()) return "the product name is empty";
    if (strProduct.find('/') != std::string::npos) return "the product name contains \"/\"";
    return NameProblem(strProduct, !NameHasDot(strProduct));
}

bool ScanRelease(const std::string& strRoot, ReleaseScan& scan, std::string& strError) {
    DiskKind nKind = DiskKindOf(strRoot);
    if (nKind == DiskKind::Missing) {
        strError = "the release folder " + strRoot + " doesn't exist";
        return false;
    }
    if (nKind != DiskKind::Dir) {
        strError = strRoot + " is not a folder";
        return false;
    }
    ReleaseWalker walker(strRoot, scan);
    if (!walker.Walk(std::string(), "/", strError)) return false;
    if (scan.m_entries.empty() && scan.m_problems.empty()) {
        strError = "the release folder " + strRoot + " is empty";
        return false;
    }
    return true;
}

std::string FormatFileList(const std::vector<PublishEntry>& entries) {
    std::string strText;
    for (const PublishEntry& e : entries)
        strText += e.m_strDir + ":" + e.m_strName + ":" + SignedDecimal(e.m_nCrc) + "\r\n";
    return strText + LIST_END_LINE + "\r\n";
}

namespace {

bool WriteTextFile(const std::string& strPath, const std::string& strText) {
    FILE* f = fopen(strPath.c_str(), "wb");
    if (!f) return false;
    bool bOk = fwrite(strText.data(), 1, strText.size(), f) == strText.size();
    return (fclose(f) == 0) && bOk;
}

// Copies under a temporary name and checks the copy against the listed checksum.
bool PlaceFile(const std::string& strFrom, const std::string& strTo, uint32_t nCrc, std::string& strError) {
    std::string strTemp = strTo + ".publishing";
    if (!DiskCopyFile(strFrom, strTemp)) {
        DiskRemove(strTemp);
        strError = "can't copy " + strFrom + " to " + strTemp;
        return false;
    }
    if (FileChecksum(strTemp.c_str(), -1) != nCrc) {
        DiskRemove(strTemp);
        strError = strFrom + " changed while it was published";
        return false;
    }
    if (!DiskReplace(strTemp, strTo)) {
        DiskRemove(strTemp);
        strError = "can't move " + strTemp + " to " + strTo;
        return false;
    }
    return true;
}

bool MakeFolder(const std::string& strPath, std::string& strError) {
    if (DiskMakeFolder(strPath)) return true;
    strError = "can't create the folder " + strPath;
    return false;
}

}  // namespace

bool WriteSite(const std::string& strRoot, const std::string& strSite, const std::string& strProduct,
               const std::vector<PublishEntry>& entries, std::string& strError) {
    std::string strProductDir = DiskJoin(DiskJoin(strSite, "kroupdate"), strProduct);
    std::string strRelease = DiskJoin(strProductDir, "release");
    for (const std::string& strDir : {strSite, DiskJoin(strSite, "kroupdate"), strProductDir, strRelease})
        if (!MakeFolder(strDir, strError)) return false;
    for (const PublishEntry& e : entries) {
        std::string strTarget = DiskPathOf(strRelease, e.m_strRelPath);
        bool bOk = e.m_bFolder ? MakeFolder(strTarget, strError)
                               : PlaceFile(DiskPathOf(strRoot, e.m_strRelPath), strTarget, e.m_nCrc, strError);
        if (!bOk) return false;
    }
    // The list goes last: a client never sees it name a file not yet in place.
    std::string strList = DiskJoin(strProductDir, "filelist.list");
    std::string strTemp = strList + ".publishing";
    if (!WriteTextFile(strTemp, FormatFileList(entries)) || !DiskReplace(strTemp, strList)) {
        DiskRemove(strTemp);
        strError = "can't write " + strList;
        return false;
    }
    return true;
}
