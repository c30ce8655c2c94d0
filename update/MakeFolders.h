// Folders of the program folder that a release lists.
#pragma once

// Creates every folder along a relative path ("a/b\\c" makes a, a\b, a\b\c).
void MakeDirectoryPath(const char* pszPath);
