// The addresses a run asks an update server for, built here alone and shared
// with the publisher's site check, so that both ask exactly alike.
//
// Every file, block index and patch carries the checksum the list gives its file
// ("?v=1a2b3c4d"): a static server ignores the query and serves the file,
// while a cache keys on it, so a cache can never hand out one release's bytes
// for another's and may keep them for ever. The list and its signature keep
// one address each, asked with net::kRevalidateHeaders. A nonzero nFresh adds
// "r=<nFresh>", an address no cache has seen, for the try after a body failed
// its check. Every path is percent-encoded (net::EncodeUrlPath). No Windows
// header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Room for an address whose path fits the 260-byte URL path, every byte of it
// percent-encoded, with its query.
const size_t kAddressCap = 3 * 260 + 64;

std::string ListAddress(const std::string& strProduct, uint64_t nFresh = 0);
std::string SignatureAddress(const std::string& strProduct, uint64_t nFresh = 0);
// A listed file ("/" or "\\" for the program folder; sub-folders joined by
// either separator) under release/, and its block index under blocks/.
std::string FileAddress(const std::string& strProduct, const std::string& strDir, const std::string& strName,
                        uint32_t nCrc, uint64_t nFresh = 0);
std::string BlockIndexAddress(const std::string& strProduct, const std::string& strDir, const std::string& strName,
                              uint32_t nCrc, uint64_t nFresh = 0);
// A binary patch of the file, named by the copy it applies to (net/PatchName.h):
// it carries the checksum of the file it makes, which the name doesn't tell.
std::string PatchAddress(const std::string& strProduct, const std::string& strDir, const std::string& strName,
                         const std::string& strPatchName, uint32_t nCrc, uint64_t nFresh = 0);
// The path below the server's root that an address names, before it is
// encoded: "filelist.list", "release/<dir>/<name>" and so on. The fixed
// request buffers hold it in 260 bytes, so callers check its length.
std::string ServerPath(const std::string& strProduct, const std::string& strTail);
// The folder and name below release/, blocks/ or patches/, "/" between folders.
std::string ListedPath(const std::string& strDir, const std::string& strName);
// A value for nFresh that this process has not used before and another
// process, or an earlier run, is unlikely to have used: the time in
// microseconds and a count.
uint64_t FreshToken();
