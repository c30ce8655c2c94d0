// Copying (or linking) a release's files into a release folder not yet live.
#include "tools/ReleaseStage.h"

#include <cstdio>
#include <cstring>

#include "tools/DiskFiles.h"
#include "tools/GbkNames.h"
#include "update/Checksum.h"
#include "update/Manifest.h"

namespace {

bool MakeFolder(const std::string& strPath, std::string& strError) {
    if (DiskMakeFolder(strPath)) return true;
    strError = "can't create the folder " + strPath;
    return false;
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

// What the live release's signed manifest says its files are. A copy is taken
// over only when it holds the new file's bytes: by the signed size and
// SHA-256 where the live release was signed, else by reading it for its
// size, checksum and SHA-256 (a CRC-32 alone is easy to forge).
class PreviousCopies {
public:
    explicit PreviousCopies(const std::string& strLive) : m_strRelease(DiskJoin(strLive, "release")) {
        std::string strSig, strWhy;
        m_bSigned = ReadBounded(DiskJoin(strLive, "filelist.sig"), strSig, MANIFEST_MAX_BYTES) &&
                    ParseManifest(strSig.data(), strSig.size(), m_manifest, strWhy);
    }

    std::string OldPath(const PublishEntry& e) const { return DiskPathOf(m_strRelease, e.m_strSiteRel); }

    bool Matches(const std::string& strOld, const PublishEntry& e) const {
        if (!e.m_bHasSha256 || DiskKindOf(strOld) != DiskKind::File || DiskFileSize(strOld) != e.m_nSize) return false;
        if (const ManifestFile* pSigned = m_bSigned ? m_manifest.Find(e.m_strDir, e.m_strName) : nullptr)
            return pSigned->m_nSize == e.m_nSize && memcmp(pSigned->m_sha256, e.m_sha256, sizeof e.m_sha256) == 0;
        DigestWants wants;
        wants.m_bSha256 = true;
        FileDigest old;
        return DigestFile(strOld, wants, old) && old.m_nSize == e.m_nSize && old.m_nCrc == e.m_nCrc &&
               memcmp(old.m_sha256, e.m_sha256, sizeof e.m_sha256) == 0;
    }

private:
    std::string m_strRelease;
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

// Makes the folders of strRel ("a/b/name") below strBase; strParent: the last one.
bool MakeParents(const std::string& strBase, const std::string& strRel, std::string& strParent,
                 std::string& strError) {
    strParent = strBase;
    if (!MakeFolder(strParent, strError)) return false;
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = strRel.find('/', nStart)) != std::string::npos; nStart = nEnd + 1)
        if (!MakeFolder(strParent = DiskJoin(strParent, strRel.substr(nStart, nEnd - nStart)), strError))
            return false;
    return true;
}

std::string NameAfterSlash(const std::string& strRel) { return strRel.substr(strRel.rfind('/') + 1); }

// <stage>/blocks/<the file's site path>, beside release/ as the client asks.
bool WriteBlockIndex(const std::string& strStage, const PublishEntry& e, std::string& strError) {
    std::string strFolder;
    if (!MakeParents(DiskJoin(strStage, "blocks"), e.m_strSiteRel, strFolder, strError)) return false;
    std::string strPath = DiskJoin(strFolder, NameAfterSlash(e.m_strSiteRel));
    if (WriteTextFile(strPath, e.m_strBlockIndex)) return true;
    strError = "can't write the block index " + strPath;
    return false;
}

#ifndef _WIN32
// The files below strRoot as "a/b/name", their names as the disk has them.
bool ListFilesBelow(const std::string& strRoot, const std::string& strRel, std::vector<std::string>& files) {
    std::vector<DiskItem> items;
    if (!DiskListFolder(strRel.empty() ? strRoot : DiskPathOf(strRoot, strRel), items)) return false;
    for (const DiskItem& item : items) {
        const std::string strPath = strRel.empty() ? item.m_strName : strRel + "/" + item.m_strName;
        if (item.m_nKind == DiskKind::Dir && !ListFilesBelow(strRoot, strPath, files)) return false;
        if (item.m_nKind == DiskKind::File) files.push_back(strPath);
    }
    return true;
}

// Servers that take only UTF-8 in a request (lighttpd as installed) refuse
// most GBK names; the client then asks for the UTF-8 spelling, which is
// linked here to the same file. A spelling some other file already has is
// left to that file.
bool AddUtf8Twins(const std::string& strRoot, std::string& strError) {
    std::vector<std::string> files;
    if (DiskKindOf(strRoot) != DiskKind::Dir) return true;
    if (!ListFilesBelow(strRoot, "", files)) {
        strError = "can't list " + strRoot;
        return false;
    }
    for (const std::string& strRel : files) {
        std::string strTwin, strFolder;
        if (!GbkToUtf8(strRel, strTwin) || strTwin == strRel) continue;
        if (!MakeParents(strRoot, strTwin, strFolder, strError)) return false;
        const std::string strTarget = DiskJoin(strFolder, NameAfterSlash(strTwin));
        if (DiskKindOf(strTarget) != DiskKind::Missing) continue;
        if (!DiskHardLink(DiskPathOf(strRoot, strRel), strTarget)) {
            strError = "can't link " + strTarget;
            return false;
        }
    }
    return true;
}

#endif

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

bool AddUtf8Spellings(const std::string& strStage, std::string& strError) {
#ifdef _WIN32
    // The ANSI calls can't name a file in UTF-8: publish.exe writes no twins.
    (void)strStage;
    (void)strError;
#else
    for (const char* pszTree : {"release", "blocks", "patches"})
        if (!AddUtf8Twins(DiskJoin(strStage, pszTree), strError)) return false;
#endif
    return true;
}
