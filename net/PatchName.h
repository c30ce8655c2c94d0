// Binary patches made by the publisher: each one rebuilds a release's file
// from one older copy of it (zstd frames made against that copy as their
// reference prefix). A patch is named by the copy it applies to, so a client
// asks for exactly the one that fits the file it holds:
//   patches/<the file's path below release/>/<base size>-<base digest>
// where the digest is the base's SHA-256 (64 hex digits) in signed releases
// and its list checksum (8 hex digits) in unsigned ones. No Windows header:
// the publisher builds this natively too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

// Smaller files cost little whole and gain little from a patch.
const uint64_t PATCH_MIN_BYTES = 64 * 1024;
// A patch's frame may reach back over the whole old copy and what it has
// rebuilt so far, and the 32-bit client maps both files whole while it
// applies one: old and new together must fit a window and a free stretch of
// its 2 GiB address space, so no patch is made beyond 512 MiB together.
const uint64_t PATCH_MAX_SPAN_BYTES = 512ull * 1024 * 1024;
const unsigned PATCH_WINDOW_LOG_MAX = 29;
// A patch that saves less than half its file is not worth its request.
const unsigned PATCH_MAX_PERCENT = 50;

// The window (log2) a patch of old onto new needs; 0 beyond PATCH_MAX_SPAN_BYTES.
unsigned PatchWindowLog(uint64_t nOldSize, uint64_t nNewSize);
// The patch's name for a base of this size and SHA-256, or of this size and checksum.
std::string PatchNameBySha256(uint64_t nBaseSize, const unsigned char sha256[32]);
std::string PatchNameByCrc(uint64_t nBaseSize, uint32_t nCrc);
// The folder under which a signed manifest lists a file's patches:
// "?patches\" and the file's folder and name; the patch's name is the line's name.
std::string PatchManifestDir(const std::string& strListDir, const std::string& strName);

}  // namespace net
