// Binary patches of a new release's changed files against the same files in
// older kept releases, written below <stage>/patches (net/PatchName.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/Publisher.h"

struct PatchOptions {
    uint64_t m_nMinBytes = 0;   // files of this size or more get patches; 0: none
    unsigned m_nFrom = 1;       // against this many releases back, the live one first
    bool m_bNameBySha256 = false;  // signed releases: named by the base's SHA-256
    int m_nLevel = 19;
    std::function<void(uint64_t nDone, uint64_t nTotal, uint64_t nBytesDone, uint64_t nBytes)> m_onProgress;
};

struct PatchStats {
    unsigned m_nWritten = 0;
    unsigned m_nTooLarge = 0;    // not smaller than PATCH_MAX_PERCENT of the file: not written
    uint64_t m_nBytes = 0;       // of the patches written
    // Against the live release: files it patches, their sizes and their patches' sizes.
    unsigned m_nLivePatched = 0;
    uint64_t m_nLiveFileBytes = 0, m_nLivePatchBytes = 0;
};

// Makes the patches of the entries against the releases in baseFolders (each
// a kept release's folder, the live one first). A file that doesn't differ from
// its base, or is too large for the client to patch, gets none. False with
// strError when a patch can't be written.
bool WritePatches(const std::string& strStage, const std::vector<std::string>& baseFolders,
                  const std::vector<PublishEntry>& entries, const PatchOptions& options, PatchStats& stats,
                  std::string& strError);

// Encodes new against old as its reference prefix; false when zstd fails.
bool MakePatch(const std::string& strOld, const std::string& strNew, int nLevel, std::string& strPatch);
