// Small files kept whole: a hard stop leaves the old copy or the new one in
// place, never a torn one.
#pragma once

#include <string>

namespace fw {

// Writes the bytes to "<path>.new", flushes them to the disk and moves that
// over the path. False (debug output tagged with pszWho) when any step fails;
// the temporary file is removed then and the old copy stays.
bool ReplaceFileWhole(const std::string& strPath, const std::string& strBytes, const char* pszWho);

}  // namespace fw
