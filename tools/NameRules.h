// What the client can take: names it reads back as they were published, paths
// that fit its fixed buffers, and entries it skips on purpose. Names are GBK.
#pragma once

#include <cstddef>
#include <string>

// The client keeps names, local paths and request paths in 260-byte buffers,
// and downloads a file under its local path with ".part" appended.
const size_t CLIENT_PATH_CAP = 260;
const size_t CLIENT_PART_SUFFIX = 5;

// Why one GBK name can't be published, or nullptr when it can.
const char* NameProblem(const std::string& strName, bool bFolder);
// Why a product name can't be used in the site's paths, or nullptr.
const char* ProductProblem(const std::string& strProduct);

// The client's local path of an entry ("dir\name", or the name in the root)
// and the path it requests it at, both as GBK bytes.
std::string ClientLocalPath(const std::string& strDir, const std::string& strName);
std::string ClientRequestPath(const std::string& strProduct, const std::string& strDir, const std::string& strName);
// Why the entry's paths don't fit the client's buffers, or nullptr.
const char* PathFitProblem(const std::string& strProduct, const std::string& strDir, const std::string& strName,
                           bool bFolder);
// Why the client never fetches this entry (it is listed all the same), or nullptr.
const char* SkippedByClient(const std::string& strDir, const std::string& strName);
