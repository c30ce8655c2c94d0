// Copying (or linking) a release's files into a release folder not yet live.
#include "tools/ReleaseStage.h"

#include <cstdio>

#include "tools/DiskFiles.h"
#include "update/Checksum.h"

namespace {

bool MakeFolder(const std::string& strPath, std::string& strError) {
    if (DiskMakeFolder(strPath)) return true;
    strError = "can't create the folder " + strPath;
    return false;
}

// The previous release's copy is taken when its bytes are the listed ones.
bool TryLink(const std::string& strOld, const PublishEntry& e, const std::string& strTo) {
    if (DiskKindOf(strOld) != DiskKind::File || DiskFileSize(strOld) != e.m_nSize) return false;
    if (!DiskHardLink(strOld, strTo)) return false;
    if (FileChecksum(strTo.c_str(), -1) == e.m_nCrc) return true;
    DiskRemove(strTo);
    return false;
}

bool CopyChecked(const std::string& strFrom, const PublishEntry& e, const std::string& strTo, std::string& strError) {
    if (!DiskCopyFile(strFrom, strTo)) {
        DiskRemove(strTo);
        strError = "can't copy " + strFrom + " to " + strTo;
        return false;
    }
    if (FileChecksum(strTo.c_str(), -1) != e.m_nCrc) {
        DiskRemove(strTo);
        strError = strFrom + " changed while it was published";
        return false;
    }
    return true;
}

}  // namespace

bool WriteTextFile(const std::string& strPath, const std::string& strText) {
    std::string strTemp = strPath + ".publishing";
    FILE* f = fopen(strTemp.c_str(), "wb");
    if (!f) return false;
    bool bOk = fwrite(strText.data(), 1, strText.size(), f) == strText.size();
    bOk = (fclose(f) == 0) && bOk && DiskReplace(strTemp, strPath);
    if (!bOk) DiskRemove(strTemp);
    return bOk;
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
    std::string strLiveRelease = DiskJoin(strLive, "release");
    for (const PublishEntry& e : entries) {
        // The site's names are the GBK bytes the client asks for.
        std::string strTarget = DiskPathOf(strRelease, e.m_strSiteRel);
        if (e.m_bFolder) {
            if (!MakeFolder(strTarget, strError)) return false;
            continue;
        }
        if (TryLink(DiskPathOf(strLiveRelease, e.m_strSiteRel), e, strTarget)) ++nLinked;
        else if (!CopyChecked(DiskPathOf(strRoot, e.m_strRelPath), e, strTarget, strError)) return false;
        ++progress.m_nFilesDone;
        progress.m_nBytesDone += e.m_nSize;
        if (options.m_onProgress) options.m_onProgress(progress);
    }
    return true;
}
