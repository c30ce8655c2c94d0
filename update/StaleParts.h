// What killed runs left beside files a release no longer lists: the
// temporary ".part" files and their notes. Only those names, only in the
// folders the list names, so nothing the run didn't make is touched.
#pragma once

#include <vector>

#include "update/FileList.h"

// Removes "<name>.part" and "<name>.part.v" in every folder of the list (the
// program folder included, relative to the current folder) where no file
// "<name>" is listed.
void RemoveOrphanParts(const std::vector<FileEntry>& remote);
