// Filling a new release folder: every folder and file of the list, each file
// checked against its listed checksum, then the list itself.
#pragma once

#include <string>
#include <vector>

#include "tools/SiteReleases.h"

// Places the entries below strStage/release and their block indexes below
// strStage/blocks. A file the live release already holds with the same size,
// checksum and SHA-256 is linked instead of copied. Counts the linked files
// into nLinked.
bool StageFiles(const std::string& strRoot, const std::string& strStage, const std::string& strLive,
                const std::vector<PublishEntry>& entries, const PublishOptions& options,
                unsigned long long& nLinked, std::string& strError);

// Links the UTF-8 spelling of every GBK-named file below the stage's
// release/, blocks/ and patches/ to that file (the publisher on Windows
// writes none).
bool AddUtf8Spellings(const std::string& strStage, std::string& strError);

// Writes a file whole and through to the disk, under a temporary name moved into place.
bool WriteTextFile(const std::string& strPath, const std::string& strText);
// Flushes a folder's entries and those of every folder below it.
bool FlushFolderTree(const std::string& strFolder);
