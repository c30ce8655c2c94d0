// Making the binary patches of a release with zstd's encoder: the old copy is
// the frame's reference prefix, long-distance matching finds what moved, and
// the window spans old and new so every match into the old copy is in reach.
#include "tools/PatchMaker.h"

#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "net/PatchName.h"
#include "tools/DiskFiles.h"
#include "tools/ReleaseStage.h"

namespace {

bool ReadAll(const std::string& strPath, uint64_t nExpected, std::string& strBytes) {
    FILE* f = fopen(strPath.c_str(), "rb");
    if (!f) return false;
    strBytes.resize(static_cast<size_t>(nExpected));
    size_t n = nExpected ? fread(&strBytes[0], 1, strBytes.size(), f) : 0;
    bool bOk = n == strBytes.size() && fgetc(f) == EOF && !ferror(f);
    fclose(f);
    return bOk;
}

// The base's name, or empty when it holds the new file's very bytes (no patch needed).
std::string BaseName(const std::string& strOld, const PublishEntry& e, bool bBySha256, FileDigest& old) {
    DigestWants wants;
    wants.m_bSha256 = true;
    if (DiskKindOf(strOld) != DiskKind::File || !DigestFile(strOld, wants, old)) return std::string();
    bool bSame = old.m_nSize == e.m_nSize && old.m_nCrc == e.m_nCrc &&
                 (!e.m_bHasSha256 || memcmp(old.m_sha256, e.m_sha256, sizeof old.m_sha256) == 0);
    if (bSame) return std::string();
    return bBySha256 ? net::PatchNameBySha256(old.m_nSize, old.m_sha256) : net::PatchNameByCrc(old.m_nSize, old.m_nCrc);
}

bool MakeFolders(const std::string& strBase, const std::string& strRel, std::string& strFolder) {
    strFolder = strBase;
    if (!DiskMakeFolder(strFolder)) return false;
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = strRel.find('/', nStart)) != std::string::npos; nStart = nEnd + 1)
        if (!DiskMakeFolder(strFolder = DiskJoin(strFolder, strRel.substr(nStart, nEnd - nStart)))) return false;
    return DiskMakeFolder(strFolder = DiskJoin(strFolder, strRel.substr(nStart)));
}

class EntryPatcher {
public:
    EntryPatcher(const std::string& strStage, const PatchOptions& options, PatchStats& stats)
        : m_strStage(strStage), m_options(options), m_stats(stats) {}

    bool Run(const PublishEntry& e, const std::vector<std::string>& baseFolders, std::string& strError) {
        std::set<std::string> names;
        std::string strNew;
        for (size_t i = 0; i < baseFolders.size(); ++i) {
            std::string strOld = DiskPathOf(DiskJoin(baseFolders[i], "release"), e.m_strSiteRel);
            FileDigest old;
            std::string strName = BaseName(strOld, e, m_options.m_bNameBySha256, old);
            if (strName.empty() || !names.insert(strName).second || !net::PatchWindowLog(old.m_nSize, e.m_nSize))
                continue;
            std::string strOldBytes, strPatch;
            if (strNew.empty() && !ReadAll(DiskPathOf(DiskJoin(m_strStage, "release"), e.m_strSiteRel), e.m_nSize, strNew))
                return Fail(strError, "can't read " + e.m_strRelPath + " to patch it");
            if (!ReadAll(strOld, old.m_nSize, strOldBytes)) continue;  // changed meanwhile: no patch from it
            if (!MakePatch(strOldBytes, strNew, m_options.m_nLevel, strPatch))
                return Fail(strError, "can't make a patch of " + e.m_strRelPath);
            if (strPatch.size() * 100 >= e.m_nSize * net::PATCH_MAX_PERCENT) {
                ++m_stats.m_nTooLarge;
                continue;
            }
            if (!Write(e, strName, strPatch, strError)) return false;
            if (i == 0) {
                ++m_stats.m_nLivePatched;
                m_stats.m_nLiveFileBytes += e.m_nSize;
                m_stats.m_nLivePatchBytes += strPatch.size();
            }
        }
        return true;
    }

private:
    static bool Fail(std::string& strError, const std::string& strWhy) {
        strError = strWhy;
        return false;
    }

    bool Write(const PublishEntry& e, const std::string& strName, const std::string& strPatch, std::string& strError) {
        std::string strFolder;
        if (!MakeFolders(DiskJoin(m_strStage, "patches"), e.m_strSiteRel, strFolder))
            return Fail(strError, "can't create the patch folder of " + e.m_strRelPath);
        std::string strPath = DiskJoin(strFolder, strName);
        if (!WriteTextFile(strPath, strPatch)) return Fail(strError, "can't write the patch " + strPath);
        ++m_stats.m_nWritten;
        m_stats.m_nBytes += strPatch.size();
        return true;
    }

    const std::string& m_strStage;
    const PatchOptions& m_options;
    PatchStats& m_stats;
};

}  // namespace

bool MakePatch(const std::string& strOld, const std::string& strNew, int nLevel, std::string& strPatch) {
    unsigned nWindowLog = net::PatchWindowLog(strOld.size(), strNew.size());
    ZSTD_CCtx* pCtx = ZSTD_createCCtx();
    if (!pCtx || !nWindowLog) {
        ZSTD_freeCCtx(pCtx);
        return false;
    }
    strPatch.resize(ZSTD_compressBound(strNew.size()));
    // The frame says its size and carries a checksum of its content, so a
    // client can refuse a lying patch before anything of it is used.
    bool bOk = !ZSTD_isError(ZSTD_CCtx_setParameter(pCtx, ZSTD_c_compressionLevel, nLevel)) &&
               !ZSTD_isError(ZSTD_CCtx_setParameter(pCtx, ZSTD_c_windowLog, static_cast<int>(nWindowLog))) &&
               !ZSTD_isError(ZSTD_CCtx_setParameter(pCtx, ZSTD_c_enableLongDistanceMatching, 1)) &&
               !ZSTD_isError(ZSTD_CCtx_setParameter(pCtx, ZSTD_c_contentSizeFlag, 1)) &&
               !ZSTD_isError(ZSTD_CCtx_setParameter(pCtx, ZSTD_c_checksumFlag, 1)) &&
               !ZSTD_isError(ZSTD_CCtx_refPrefix(pCtx, strOld.data(), strOld.size()));
    size_t n = bOk ? ZSTD_compress2(pCtx, &strPatch[0], strPatch.size(), strNew.data(), strNew.size()) : 0;
    ZSTD_freeCCtx(pCtx);
    if (!bOk || ZSTD_isError(n)) return false;
    strPatch.resize(n);
    return true;
}

bool WritePatches(const std::string& strStage, const std::vector<std::string>& baseFolders,
                  const std::vector<PublishEntry>& entries, const PatchOptions& options, PatchStats& stats,
                  std::string& strError) {
    if (!options.m_nMinBytes || baseFolders.empty()) return true;
    uint64_t nFiles = 0, nBytes = 0, nDone = 0, nBytesDone = 0;
    for (const PublishEntry& e : entries)
        if (!e.m_bFolder && e.m_nSize >= options.m_nMinBytes) ++nFiles, nBytes += e.m_nSize;
    EntryPatcher patcher(strStage, options, stats);
    for (const PublishEntry& e : entries) {
        if (e.m_bFolder || e.m_nSize < options.m_nMinBytes) continue;
        if (!patcher.Run(e, baseFolders, strError)) return false;
        ++nDone;
        nBytesDone += e.m_nSize;
        if (options.m_onProgress) options.m_onProgress(nDone, nFiles, nBytesDone, nBytes);
    }
    return true;
}
