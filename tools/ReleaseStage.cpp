// Copying (or linking) a release's files into a release folder not yet live.
#include "tools/ReleaseStage.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "tools/ChangeReport.h"
#include "tools/DiskFiles.h"
#include "update/Checksum.h"
#include "update/Manifest.h"
#include "update/PathRules.h"

namespace {

bool MakeFolder(const std::string& strPath, std::string& strError) {
    if (DiskMakeFolder(strPath)) return true;
    strError = "can't create the folder " + strPath;
    return false;
}

std::string ListKey(const std::string& strDir, const std::string& strName) {
    return FoldCaseAZ(strDir == "\\" ? "/" : strDir) + ":" + FoldCaseAZ(strName);
}

bool ReadBounded(const std::string& strPath, std::string& strText, size_t nMax) {
    FILE* f = fopen(strPath.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && strText.size() <= nMax) strText.append(buf, n);
    bool bOk = !ferror(f) && strText.size() <= nMax;
    fclose(f);
    return bOk;
}

// What the live release says its files are: the list's checksums and, where
// it was signed, their sizes and SHA-256. A copy is taken over only when all
// of these match the new file (a CRC-32 alone is easy to forge).
class PreviousCopies {
public:
    explicit PreviousCopies(const std::string& strLive) : m_strRelease(DiskJoin(strLive, "release")) {
        std::vector<FileEntry> listed;
        if (ReadLiveList(strLive, listed))
            for (const FileEntry& e : listed) m_crcs[ListKey(e.m_strDir, e.m_strName)] = e.m_nCrc;
        std::string strSig, strWhy;
        m_bSigned = ReadBounded(DiskJoin(strLive, "filelist.sig"), strSig, MANIFEST_MAX_BYTES) &&
                    ParseManifest(strSig.data(), strSig.size(), m_manifest, strWhy);
    }

    std::string OldPath(const PublishEntry& e) const { return DiskPathOf(m_strRelease, e.m_strSiteRel); }

    bool Matches(const std::string& strOld, const PublishEntry& e) const {
        if (!e.m_bHasSha256 || DiskKindOf(strOld) != DiskKind::File || DiskFileSize(strOld) != e.m_nSize) return false;
        auto it = m_crcs.find(ListKey(e.m_strDir, e.m_strName));
        const ManifestFile* pSigned = m_bSigned ? m_manifest.Find(e.m_strDir, e.m_strName) : nullptr;
        if (pSigned && it != m_crcs.end())
            return pSigned->m_nSize == e.m_nSize && it->second == e.m_nCrc &&
                   memcmp(pSigned->m_sha256, e.m_sha256, sizeof e.m_sha256) == 0;
        DigestWants wants;
        wants.m_bSha256 = true;
        FileDigest old;
        return DigestFile(strOld, wants, old) && old.m_nSize == e.m_nSize && old.m_nCrc == e.m_nCrc &&
               memcmp(old.m_sha256, e.m_sha256, sizeof e.m_sha256) == 0;
    }

private:
    std::string m_strRelease;
    std::unordered_map<std::string, uint32_t> m_crcs;
    Manifest m_manifest;
    bool m_bSigned = false;
};

// Checked as it is copied: the bytes written are the ones the list names.
bool CopyChecked(const std::string& strFrom, const PublishEntry& e, const std::string& strTo, std::string& strError) {
    uint32_t nCrc = ChecksumStart();
    uint64_t nSize = 0;
    bool bCopied = DiskCopyFile(strFrom, strTo, [&](const char* p, size_t n) {
        nCrc = ChecksumUpdate(nCrc, p, n);
        nSize += n;
    });
    if (!bCopied) strError = "can't copy " + strFrom + " to " + strTo;
    else if (nCrc != e.m_nCrc || nSize != e.m_nSize) strError = strFrom + " changed while it was published";
    else return true;
    DiskRemove(strTo);
    return false;
}

// <stage>/blocks/<the file's site path>, beside release/ as the client asks.
bool WriteBlockIndex(const std::string& strStage, const PublishEntry& e, std::string& strError) {
    std::string strFolder = DiskJoin(strStage, "blocks");
    if (!MakeFolder(strFolder, strError)) return false;
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = e.m_strSiteRel.find('/', nStart)) != std::string::npos; nStart = nEnd + 1)
        if (!MakeFolder(strFolder = DiskJoin(strFolder, e.m_strSiteRel.substr(nStart, nEnd - nStart)), strError))
            return false;
    std::string strPath = DiskJoin(strFolder, e.m_strSiteRel.substr(nStart));
    if (WriteTextFile(strPath, e.m_strBlockIndex)) return true;
    strError = "can't write the block index " + strPath;
    return false;
}

}  // namespace

bool WriteTextFile(const std::string& strPath, const std::string& strText) {
    std::string strTemp = strPath + ".publishing";
    FILE* f = fopen(strTemp.c_str(), "wb");
    if (!f) return false;
    bool bOk = fwrite(strText.data(), 1, strText.size(), f) == strText.size();
    bOk = (fclose(f) == 0) && bOk && DiskFlushFile(strTemp) && DiskReplace(strTemp, strPath);
    if (!bOk) DiskRemove(strTemp);
    return bOk;
}

bool FlushFolderTree(const std::string& strFolder) {
    std::vector<DiskItem> items;
    if (!DiskListFolder(strFolder, items)) return false;
    for (const DiskItem& item : items)
        if (item.m_nKind == DiskKind::Dir && !FlushFolderTree(DiskJoin(strFolder, item.m_strName))) return false;
    return DiskFlushFolder(strFolder);
}

bool StageFiles(const std::string& strRoot, const std::string& strStage, const std::string& strLive,
                const std::vector<PublishEntry>& entries, const PublishOptions& options,
                unsigned long long& nLinked, std::string& strError) {
    std::string strRelease = DiskJoin(strStage, "release");
    if (!MakeFolder(strRelease, strError)) return false;
    PublishProgress progress;
    for (const PublishEntry& e : entries) {
        if (e.m_bFolder) continue;
        ++progress.m_nFiles;
        progress.m_nBytes += e.m_nSize;
    }
    PreviousCopies previous(strLive);
    for (const PublishEntry& e : entries) {
        // The site's names are the GBK bytes the client asks for.
        std::string strTarget = DiskPathOf(strRelease, e.m_strSiteRel);
        if (e.m_bFolder) {
            if (!MakeFolder(strTarget, strError)) return false;
            continue;
        }
        std::string strOld = previous.OldPath(e);
        if (previous.Matches(strOld, e) && DiskHardLink(strOld, strTarget)) ++nLinked;
        else if (!CopyChecked(DiskPathOf(strRoot, e.m_strRelPath), e, strTarget, strError)) return false;
        if (!e.m_strBlockIndex.empty() && !WriteBlockIndex(strStage, e, strError)) return false;
        ++progress.m_nFilesDone;
        progress.m_nBytesDone += e.m_nSize;
        if (options.m_onProgress) options.m_onProgress(progress);
    }
    return true;
}
