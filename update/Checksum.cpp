// The file checksum of the server's list: zlib's crc32 started from
// 0xFFFFFFFF, computed in pieces so no file needs memory of its own size.
#include "update/Checksum.h"

#include <zlib.h>

#include <cstdio>
#include <memory>
#include <new>

namespace {

// Big enough to keep reads efficient, small enough for any 32-bit process.
const size_t CHECKSUM_PIECE = 256 * 1024;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// 64-bit positions: files past 2 GiB must not wrap the length.
bool SeekTo(FILE* f, long long nOffset, int nOrigin) {
#ifdef _WIN32
    return _fseeki64(f, nOffset, nOrigin) == 0;
#else
    return fseeko(f, static_cast<off_t>(nOffset), nOrigin) == 0;
#endif
}

long long TellPos(FILE* f) {
#ifdef _WIN32
    return _ftelli64(f);
#else
    return static_cast<long long>(ftello(f));
#endif
}

bool FileLength(FILE* f, long long& nLength) {
    if (!SeekTo(f, 0, SEEK_END)) return false;
    nLength = TellPos(f);
    return nLength >= 0 && SeekTo(f, 0, SEEK_SET);
}

}  // namespace

uint32_t ChecksumStart() { return 0xFFFFFFFFu; }

uint32_t ChecksumUpdate(uint32_t nCrc, const void* pData, size_t nSize) {
    const Bytef* p = static_cast<const Bytef*>(pData);
    uLong crc = nCrc;
    // crc32 takes a uInt length; feed larger ranges in slices.
    while (nSize > 0) {
        uInt n = nSize > 0x40000000u ? 0x40000000u : static_cast<uInt>(nSize);
        crc = crc32(crc, p, n);
        p += n;
        nSize -= n;
    }
    return static_cast<uint32_t>(crc);
}

uint32_t FileChecksum(const char* pszPath, long long nCount, const std::atomic<bool>* pCancel) {
    FilePtr file(fopen(pszPath, "rb"));
    if (!file) return CHECKSUM_UNREADABLE;
    if (nCount < 0 && !FileLength(file.get(), nCount)) return CHECKSUM_UNREADABLE;

    // A small file needs no more than its own size: thousands of them are
    // checked in one run, and a large allocation each time is not free.
    size_t nPiece = nCount < static_cast<long long>(CHECKSUM_PIECE) ? static_cast<size_t>(nCount) + 1 : CHECKSUM_PIECE;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[nPiece]);
    if (!buffer) return CHECKSUM_UNREADABLE;
    uint32_t nCrc = ChecksumStart();
    while (nCount > 0) {
        if (pCancel && pCancel->load()) return CHECKSUM_UNREADABLE;
        size_t nWant = nCount > static_cast<long long>(nPiece) ? nPiece : static_cast<size_t>(nCount);
        size_t nGot = fread(buffer.get(), 1, nWant, file.get());
        // A file that ends early or fails to read has no trustworthy checksum.
        if (nGot != nWant) return CHECKSUM_UNREADABLE;
        nCrc = ChecksumUpdate(nCrc, buffer.get(), nGot);
        nCount -= static_cast<long long>(nGot);
    }
    return nCrc;
}
