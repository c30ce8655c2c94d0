// Filling a new release folder: every folder and file of the list, each file
// checked against its listed checksum, then the list itself.
#pragma once

#include <string>
#include <vector>

#include "tools/SiteReleases.h"

// Places the entries below strStage/release. A file the live release already
// holds with the same size is linked instead of copied when the link's bytes
// check out. Counts the linked files into nLinked.
bool StageFiles(const std::string& strRoot, const std::string& strStage, const std::string& strLive,
                const std::vector<PublishEntry>& entries, const PublishOptions& options,
                unsigned long long& nLinked, std::string& strError);

// Writes a text file whole, under a temporary name moved into place.
bool WriteTextFile(const std::string& strPath, const std::string& strText);
