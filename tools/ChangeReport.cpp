// Counting added, changed and removed files against the live release.
#include "tools/ChangeReport.h"

#include <cstdio>
#include <unordered_map>

#include "tools/DiskFiles.h"
#include "tools/ListText.h"
#include "update/PathRules.h"

namespace {

std::string FileKey(const std::string& strDir, const std::string& strName) {
    std::string strFolder = (strDir == "\\") ? "/" : strDir;
    return FoldCaseAZ(strFolder) + ":" + FoldCaseAZ(strName);
}

std::string Megabytes(unsigned long long n) {
    char sz[32];
    snprintf(sz, sizeof sz, "%.1f MB", static_cast<double>(n) / (1024.0 * 1024.0));
    return sz;
}

}  // namespace

bool ReadLiveList(const std::string& strLiveFolder, std::vector<FileEntry>& entries) {
    // Read only: a dry run needs no right to write the site.
    FILE* f = fopen(DiskJoin(strLiveFolder, "filelist.list").c_str(), "rb");
    if (!f) return false;
    std::string strText;
    char buffer[64 * 1024];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) strText.append(buffer, n);
    fclose(f);
    ParseFileListText(strText, entries);
    return true;
}

ChangeReport CompareReleases(const std::vector<FileEntry>& previous, bool bHadPrevious,
                             const std::vector<PublishEntry>& next) {
    ChangeReport report;
    report.m_bFirst = !bHadPrevious;
    std::unordered_map<std::string, uint32_t> old;
    for (const FileEntry& e : previous)
        if (NameHasDot(e.m_strName)) old.emplace(FileKey(e.m_strDir, e.m_strName), e.m_nCrc);
    for (const PublishEntry& e : next) {
        if (e.m_bFolder) continue;
        auto it = old.find(FileKey(e.m_strDir, e.m_strName));
        if (it == old.end()) {
            ++report.m_nAdded;
            report.m_nDownloadBytes += e.m_nSize;
            continue;
        }
        if (it->second != e.m_nCrc) {
            ++report.m_nChanged;
            report.m_nDownloadBytes += e.m_nSize;
        } else {
            ++report.m_nUnchanged;
        }
        old.erase(it);
    }
    report.m_nRemoved = static_cast<unsigned>(old.size());
    return report;
}

std::string FormatChangeReport(const ChangeReport& r) {
    char sz[256];
    snprintf(sz, sizeof sz, "%u added, %u changed, %u removed, %u unchanged file(s)", r.m_nAdded, r.m_nChanged,
             r.m_nRemoved, r.m_nUnchanged);
    std::string strText = sz;
    snprintf(sz, sizeof sz, "%llu bytes", r.m_nDownloadBytes);
    if (r.m_bFirst) return strText + "; nothing was live: a fresh install downloads " + sz + " (" + Megabytes(r.m_nDownloadBytes) + ")";
    if (!r.m_nPatched)
        return strText + "; a player on the previous release downloads " + sz + " (" + Megabytes(r.m_nDownloadBytes) + ")";
    unsigned long long nWithPatches = r.m_nDownloadBytes - r.m_nPatchedFileBytes + r.m_nPatchBytes;
    snprintf(sz, sizeof sz, "%llu bytes", nWithPatches);
    strText += "; a player on the previous release downloads " + std::string(sz) + " (" + Megabytes(nWithPatches) + ")";
    snprintf(sz, sizeof sz, " with %u patch(es), %llu bytes whole", r.m_nPatched, r.m_nDownloadBytes);
    return strText + sz;
}
