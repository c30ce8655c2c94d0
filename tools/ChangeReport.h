// What a new release costs the players of the one it replaces.
#pragma once

#include <string>
#include <vector>

#include "tools/Publisher.h"
#include "update/FileList.h"

struct ChangeReport {
    bool m_bFirst = true;  // nothing was live before
    unsigned m_nAdded = 0, m_nChanged = 0, m_nRemoved = 0, m_nUnchanged = 0;
    unsigned long long m_nDownloadBytes = 0;  // what a player on the previous release fetches, files whole
    // Changed files that come as a patch against the previous release, and their patches.
    unsigned m_nPatched = 0;
    unsigned long long m_nPatchedFileBytes = 0, m_nPatchBytes = 0;
};

// Reads the live list the way the client does; false when none is live.
bool ReadLiveList(const std::string& strLiveFolder, std::vector<FileEntry>& entries);
// Compares files the way the client does: folder and name in any A-Z case, by checksum.
ChangeReport CompareReleases(const std::vector<FileEntry>& previous, bool bHadPrevious,
                             const std::vector<PublishEntry>& next);
std::string FormatChangeReport(const ChangeReport& report);
