// Kept releases of a product, the switch that makes one live, and rollback.
#include "tools/SiteReleases.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "tools/DiskFiles.h"
#include "tools/ReleaseStage.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const char* const ID_FILE = "publish.id";
const char* const STAGE_SUFFIX = ".staging";

// Ids are "<sequence>-<UTC time>", so that their byte order is their age.
bool IsReleaseId(const std::string& s) {
    if (s.size() < 7 || s[6] != '-') return false;
    for (size_t i = 0; i < 6; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return s.find('.') == std::string::npos;
}

std::string MakeId(unsigned nSequence, const char* pszTag) {
    time_t now = time(nullptr);
    struct tm utc = {};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char szId[64];
    snprintf(szId, sizeof szId, "%06u-%04d%02d%02d-%02d%02d%02d%s", nSequence % 1000000u, utc.tm_year + 1900,
             utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, pszTag);
    return szId;
}

std::string ReadIdFile(const std::string& strRelease) {
    std::string strId;
    FILE* f = fopen(DiskJoin(strRelease, ID_FILE).c_str(), "rb");
    if (!f) return strId;
    char szBuf[64] = {};
    size_t n = fread(szBuf, 1, sizeof szBuf - 1, f);
    fclose(f);
    strId.assign(szBuf, n);
    while (!strId.empty() && (strId.back() == '\n' || strId.back() == '\r')) strId.pop_back();
    return IsReleaseId(strId) ? strId : std::string();
}

#ifndef _WIN32
std::string NameAfterLastSlash(const std::string& s) {
    size_t n = s.find_last_of('/');
    return n == std::string::npos ? s : s.substr(n + 1);
}
#endif

bool Fail(std::string& strError, const std::string& strWhy) {
    strError = strWhy;
    return false;
}

#ifdef _WIN32
// A web server reading the folder may hold it for a moment.
bool MoveWithRetries(const std::string& strFrom, const std::string& strTo) {
    for (int i = 0; i < 50; ++i) {
        if (DiskMove(strFrom, strTo)) return true;
        Sleep(100);
    }
    return false;
}

// Moves the live folder back among the kept releases, then the chosen one in.
bool SwitchLive(const SiteLayout& site, const std::string& strId, std::string& strError) {
    std::string strChosen = DiskJoin(site.m_strReleases, strId);
    if (DiskKindOf(site.m_strLive) == DiskKind::Dir) {
        std::string strLiveId = ReadIdFile(site.m_strLive);
        if (strLiveId.empty()) strLiveId = MakeId(0, "-earlier");
        std::string strAside = DiskJoin(site.m_strReleases, strLiveId);
        if (DiskKindOf(strAside) != DiskKind::Missing)
            return Fail(strError, site.m_strLive + " is a link to " + strAside +
                                      ": this site is switched by links; publish it with the Linux publisher");
        if (!MoveWithRetries(site.m_strLive, strAside))
            return Fail(strError, "can't move the live release " + site.m_strLive + " aside");
        if (MoveWithRetries(strChosen, site.m_strLive)) return true;
        // The release that was live goes back rather than leaving nothing live.
        bool bBack = MoveWithRetries(strAside, site.m_strLive);
        return Fail(strError, "can't move " + strChosen + " to " + site.m_strLive +
                                  (bBack ? "; the previous release stays live" : "; nothing is live, it waits in " + strAside));
    }
    if (MoveWithRetries(strChosen, site.m_strLive)) return true;
    return Fail(strError, "can't move " + strChosen + " to " + site.m_strLive);
}
#else
// A folder left by a publisher without releases is kept as the oldest one.
bool AdoptLiveFolder(const SiteLayout& site, const std::string& strTempLink, std::string& strError) {
    std::string strAside = DiskJoin(site.m_strReleases, MakeId(0, "-earlier"));
    if (DiskExchange(strTempLink, site.m_strLive)) {
        if (DiskMove(strTempLink, strAside)) return true;
        return Fail(strError, "the new release is live, but the earlier folder stays at " + strTempLink);
    }
    // Without an exchange the list answers 404 between these two renames.
    if (!DiskMove(site.m_strLive, strAside)) return Fail(strError, "can't move " + site.m_strLive + " aside");
    if (DiskReplace(strTempLink, site.m_strLive)) return true;
    return Fail(strError, "can't switch " + site.m_strLive + "; the earlier release waits in " + strAside);
}

// A new link, renamed over the live one: rename(2) replaces it in one step.
bool SwitchLive(const SiteLayout& site, const std::string& strId, std::string& strError) {
    std::string strProduct = NameAfterLastSlash(site.m_strLive);
    std::string strTempLink = site.m_strLive + ".switching";
    DiskRemove(strTempLink);
    if (!DiskSymlink("../releases/" + strProduct + "/" + strId, strTempLink))
        return Fail(strError, "can't create the link " + strTempLink);
    DiskKind nKind = DiskKindOf(site.m_strLive);
    if (nKind == DiskKind::Dir) return AdoptLiveFolder(site, strTempLink, strError);
    if (DiskReplace(strTempLink, site.m_strLive)) return true;
    DiskRemove(strTempLink);
    return Fail(strError, "can't switch " + site.m_strLive + " to " + strId);
}
#endif

unsigned NextSequence(const std::vector<std::string>& ids) {
    unsigned nMax = 0;
    for (const std::string& id : ids) nMax = std::max(nMax, static_cast<unsigned>(std::stoul(id.substr(0, 6))));
    return nMax + 1;
}

// Keeps the live release, the one it replaced (what a rollback returns to)
// and the newest others, up to nKeep in all.
void PruneReleases(const SiteLayout& site, unsigned nKeep, const std::string& strReplaced,
                   std::vector<std::string>& removed) {
    std::string strLive = LiveReleaseId(site);
    std::vector<std::string> ids = ReleaseIds(site);
    unsigned nKept = 1;
    bool bKeepReplaced = nKeep > 1 && std::find(ids.begin(), ids.end(), strReplaced) != ids.end();
    if (bKeepReplaced) ++nKept;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        if (*it == strLive || (bKeepReplaced && *it == strReplaced)) continue;
        if (nKept < nKeep) {
            ++nKept;
            continue;
        }
        if (DiskRemoveTree(DiskJoin(site.m_strReleases, *it))) removed.push_back(*it);
    }
}

bool MakeFolders(const std::string& strSite, const SiteLayout& site, std::string& strError) {
    for (const std::string& strDir : {strSite, DiskJoin(strSite, "kroupdate"), DiskJoin(strSite, "releases"),
                                      site.m_strReleases})
        if (!DiskMakeFolder(strDir)) return Fail(strError, "can't create the folder " + strDir);
    return true;
}

// The releases patches start from: the live one, then the newest kept ones older than it.
std::vector<std::string> PatchBases(const SiteLayout& site, unsigned nFrom) {
    std::vector<std::string> bases;
    std::string strLive = LiveReleaseId(site);
    if (strLive.empty() || nFrom == 0) return bases;
    bases.push_back(site.m_strLive);
    std::vector<std::string> ids = ReleaseIds(site);
    for (auto it = ids.rbegin(); it != ids.rend() && bases.size() < nFrom; ++it)
        if (*it < strLive) bases.push_back(DiskJoin(site.m_strReleases, *it));
    return bases;
}

// Fills the stage folder; true once it holds the release, its id and its list.
bool FillStage(const std::string& strRoot, const std::string& strStage, const SiteLayout& site,
               const std::vector<PublishEntry>& entries, const PublishOptions& options, PublishResult& result,
               std::string& strError) {
    if (!DiskRemoveTree(strStage) || !DiskMakeFolder(strStage))
        return Fail(strError, "can't create the folder " + strStage);
    if (!StageFiles(strRoot, strStage, site.m_strLive, entries, options, result.m_nLinked, strError)) return false;
    if (!WritePatches(strStage, PatchBases(site, options.m_patch.m_nFrom), entries, options.m_patch, result.m_patches,
                      strError))
        return false;
    if (!AddUtf8Spellings(strStage, strError)) return false;
    if (!WriteTextFile(DiskJoin(strStage, ID_FILE), result.m_strId + "\n"))
        return Fail(strError, "can't write " + DiskJoin(strStage, ID_FILE));
    // The list goes in last, once every file it names is in place.
    if (!WriteTextFile(DiskJoin(strStage, "filelist.list"), FormatFileList(entries)))
        return Fail(strError, "can't write " + DiskJoin(strStage, "filelist.list"));
    return true;
}

}  // namespace

SiteLayout SiteLayoutOf(const std::string& strSite, const std::string& strProduct) {
    return {DiskJoin(DiskJoin(strSite, "kroupdate"), strProduct), DiskJoin(DiskJoin(strSite, "releases"), strProduct)};
}

std::string LiveReleaseId(const SiteLayout& site) {
#ifndef _WIN32
    std::string strTarget;
    if (DiskKindOf(site.m_strLive) == DiskKind::Link && DiskReadLink(site.m_strLive, strTarget))
        return NameAfterLastSlash(strTarget);
#endif
    return ReadIdFile(site.m_strLive);
}

std::vector<std::string> ReleaseIds(const SiteLayout& site) {
    std::vector<DiskItem> items;
    std::vector<std::string> ids;
    DiskListFolder(site.m_strReleases, items);
    for (const DiskItem& item : items)
        if (item.m_nKind == DiskKind::Dir && IsReleaseId(item.m_strName)) ids.push_back(item.m_strName);
    std::string strLive = LiveReleaseId(site);
    if (!strLive.empty() && std::find(ids.begin(), ids.end(), strLive) == ids.end()) ids.push_back(strLive);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool PublishSite(const std::string& strRoot, const std::string& strSite, const std::string& strProduct,
                 const std::vector<PublishEntry>& entries, const PublishOptions& options, PublishResult& result,
                 std::string& strError) {
    SiteLayout site = SiteLayoutOf(strSite, strProduct);
    if (!MakeFolders(strSite, site, strError)) return false;
    result.m_strPrevious = LiveReleaseId(site);
    result.m_strId = MakeId(NextSequence(ReleaseIds(site)), "");
    std::string strStage = DiskJoin(site.m_strReleases, result.m_strId + STAGE_SUFFIX);
    std::string strRelease = DiskJoin(site.m_strReleases, result.m_strId);
    bool bOk = FillStage(strRoot, strStage, site, entries, options, result, strError);
    // Checks and signatures of the finished release go here, before it goes live.
    if (bOk && options.m_beforeSwitch) bOk = options.m_beforeSwitch(strStage, strError);
    // Every byte and name of the release is on the disk before anything points
    // to it: a power cut after the switch must not leave a live list whose files are lost.
    if (bOk && !FlushFolderTree(strStage)) bOk = Fail(strError, "can't flush " + strStage + " to the disk");
    if (bOk && !DiskMove(strStage, strRelease)) bOk = Fail(strError, "can't move " + strStage + " to " + strRelease);
    if (bOk && !DiskFlushFolder(site.m_strReleases))
        bOk = Fail(strError, "can't flush " + site.m_strReleases + " to the disk");
    if (!bOk) {
        DiskRemoveTree(DiskKindOf(strRelease) == DiskKind::Dir ? strRelease : strStage);
        return false;
    }
    if (!SwitchLive(site, result.m_strId, strError)) {
        // A release that never went live is no release to roll back to.
        if (LiveReleaseId(site) != result.m_strId && DiskRemoveTree(strRelease))
            strError += "; the new release " + result.m_strId + " was removed";
        return false;
    }
    PruneReleases(site, std::max(options.m_nKeep, 1u), result.m_strPrevious, result.m_removed);
    return true;
}

bool RollbackSite(const std::string& strSite, const std::string& strProduct, std::string& strFrom,
                  std::string& strTo, std::string& strError) {
    SiteLayout site = SiteLayoutOf(strSite, strProduct);
    strFrom = LiveReleaseId(site);
    if (strFrom.empty()) return Fail(strError, "nothing of " + strProduct + " is live in " + strSite);
    strTo.clear();
    for (const std::string& id : ReleaseIds(site))
        if (id < strFrom) strTo = id;
    if (strTo.empty()) return Fail(strError, "no release older than " + strFrom + " is kept in " + site.m_strReleases);
    return SwitchLive(site, strTo, strError);
}

bool WriteSite(const std::string& strRoot, const std::string& strSite, const std::string& strProduct,
               const std::vector<PublishEntry>& entries, std::string& strError) {
    PublishResult result;
    return PublishSite(strRoot, strSite, strProduct, entries, PublishOptions(), result, strError);
}
