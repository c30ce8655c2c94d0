// Byte-string helpers for list entries: multibyte-aware searches in the ANSI
// code page and the rule that keeps every listed path inside the program
// folder. No Windows header: shared with the publisher and native builds.
#pragma once

#include <cstddef>
#include <string>

#include "framework/Mbcs.h"

// Position of the last single-byte ch in s, stepping over double-byte
// characters so that a trail byte equal to ch never counts; npos if none.
size_t MbcsFindLast(const char* psz, size_t nLen, char ch);
inline size_t MbcsFindLast(const std::string& s, char ch) { return MbcsFindLast(s.data(), s.size(), ch); }
// Whether s holds ch as a single-byte character.
bool MbcsContains(const std::string& s, char ch);
// A listed name is a file when it contains a "." and a folder when it doesn't.
inline bool NameHasDot(const std::string& strName) { return MbcsContains(strName, '.'); }

// ASCII-only case folding (A-Z), the way list entries are compared.
std::string FoldCaseAZ(const std::string& s);
bool EqualsNoCaseAZ(const std::string& a, const std::string& b);
// One spelling for every spelling of a local path: A-Z folded, "/" as "\".
std::string LocalPathKey(const std::string& strPath);

// Whether a folder as listed ("/" or "\\" for the program folder, else
// sub-folders joined by backslashes) names something inside the program folder.
bool IsSafeListDir(const std::string& strDir);
// Whether a name as listed is one plain component inside its folder.
bool IsSafeListName(const std::string& strName);
inline bool IsSafeEntry(const std::string& strDir, const std::string& strName) {
    return IsSafeListDir(strDir) && IsSafeListName(strName);
}

// Entries the run never fetches or creates: anything in or under the folder
// "UpdateINI" (the run's own lists), "winmm.dll" anywhere, and the running
// working copy "selfrenew.kro" in the program folder.
bool IsSkippedEntry(const std::string& strDir, const std::string& strName);
