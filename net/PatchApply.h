// Applying a fetched binary patch (net/PatchName.h) onto the installed copy:
// the result is written into the target's part file and replaces the target
// only once it passed the same whole-file check as any download.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "net/HttpFetcher.h"

namespace net {

// Rebuilds pszTarget from the installed copy pszOld and the patch file
// pszPatch. Memory: both files are mapped whole and the decoder writes
// straight into the new file's mapping, so beyond the two mappings it holds
// its own state and one input block (well under a megabyte), however large
// the file. FETCH_NOT_FOUND where no patch can be applied here (empty files,
// old and new together beyond PATCH_MAX_SPAN_BYTES, no room in the address
// space for the mappings): the caller falls back. FETCH_REJECTED for a
// damaged patch, one that says another size or window than it may, or whose
// result pCheck refuses; FETCH_DISK_FULL, FETCH_CANCELLED. Only FETCH_DONE
// touches the target.
FetchResult ApplyPatch(const char* pszOld, const char* pszPatch, const char* pszTarget, BodyCheck* pCheck,
                       const std::atomic<bool>& bCancel);

}  // namespace net
