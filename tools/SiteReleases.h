// The releases of a product in a site and the one step that makes one live.
//
//   <site>/kroupdate/<product>          the live release the client reads
//   <site>/releases/<product>/<id>/     every kept release: filelist.list,
//                                       publish.id and release/...
//
// On Linux the live path is a symbolic link to one of the kept releases,
// replaced by rename(2), so every request sees one whole release. Windows has
// no such link a web server follows without privileges: there the live path
// is the release folder itself, moved aside and replaced by two renames; for
// that moment between them the list answers 404 (clients try on their next
// start) and never another release's files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/PatchMaker.h"
#include "tools/Publisher.h"

struct SiteLayout {
    std::string m_strLive;      // <site>/kroupdate/<product>
    std::string m_strReleases;  // <site>/releases/<product>
};
SiteLayout SiteLayoutOf(const std::string& strSite, const std::string& strProduct);

// The id of the live release; empty when nothing is live yet.
std::string LiveReleaseId(const SiteLayout& site);
// The kept releases, oldest first, the live one included.
std::vector<std::string> ReleaseIds(const SiteLayout& site);

struct PublishProgress {
    unsigned long long m_nFilesDone = 0, m_nFiles = 0;
    unsigned long long m_nBytesDone = 0, m_nBytes = 0;
};

struct PublishOptions {
    unsigned m_nKeep = 2;  // releases kept, the live one included
    std::function<void(const PublishProgress&)> m_onProgress;
    PatchOptions m_patch;  // binary patches against the live and older kept releases
    // Runs once the new release folder holds its files and filelist.list, before
    // it goes live; false (with strError) stops the publish, nothing goes live.
    std::function<bool(const std::string& strReleaseDir, std::string& strError)> m_beforeSwitch;
};

struct PublishResult {
    std::string m_strId;                  // the new live release
    std::string m_strPrevious;            // the one it replaced, empty if none
    std::vector<std::string> m_removed;   // releases past --keep, removed
    unsigned long long m_nLinked = 0;     // files taken over from the previous release unchanged
    PatchStats m_patches;
};

// Writes the entries into a new release folder, then makes it live in one
// step and removes the releases past options.m_nKeep.
bool PublishSite(const std::string& strRoot, const std::string& strSite, const std::string& strProduct,
                 const std::vector<PublishEntry>& entries, const PublishOptions& options, PublishResult& result,
                 std::string& strError);

// Makes the newest kept release older than the live one live again.
bool RollbackSite(const std::string& strSite, const std::string& strProduct, std::string& strFrom,
                  std::string& strTo, std::string& strError);
