// A new file that only the user who creates it may open (Windows): an
// explicit access list, not the one the folder would pass on.
#pragma once

#include <string>

// Creates the file (never replacing one), writes it and flushes it. False on
// any failure, and then no file is left behind.
bool WriteOwnerOnlyFile(const std::string& strPath, const std::string& strText);
