// Reading a list's text the way the client reads its downloaded copy.
#pragma once

#include <string>
#include <vector>

#include "update/FileList.h"

// The entries the client would take from the text, with its own line reader.
void ParseFileListText(const std::string& strText, std::vector<FileEntry>& entries);
