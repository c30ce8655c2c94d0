// The block index of a released file: what a client needs to rebuild the new
// file from the blocks of its old one and fetch only the rest. The publisher
// writes it beside the release (site path "/kroupdate/<product>/blocks/" plus
// the file's release path), where clients that don't know it never look.
// No Windows header: the publisher, the client and native tests share it.
//
// Format, little-endian, nothing before or after:
//   "SRBI"                    4 bytes
//   version                   u32, 1
//   file size                 u64
//   block size                u32, a power of two from 4 KiB to 1 MiB
//   strong hash bytes         u32, 8
//   file SHA-256              32 bytes
//   then for every block, in file order (the last one may be short):
//   weak checksum             u32 (RollingChecksum over the block's bytes)
//   strong hash               u64 (StrongBlockHash over the block's bytes)
//
// The strong hash is XXH3-64. It only has to tell blocks apart by chance,
// not against an adversary: a rebuilt file is installed only after the same
// whole-file check as any download (the listed CRC, and in signed mode the
// signed size and SHA-256), and a signed client takes only an index the
// manifest signs. SHA-256 under Wine's CNG runs at about 250 MB/s, which
// would cap the scan of a large local file well below the line's use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

const uint32_t BLOCK_INDEX_VERSION = 1;
const size_t BLOCK_INDEX_HEADER_BYTES = 56;
const size_t BLOCK_INDEX_RECORD_BYTES = 12;
const uint32_t BLOCK_SIZE_MIN = 4 * 1024;
const uint32_t BLOCK_SIZE_MAX = 1024 * 1024;
// Files below this get no index by default (the publisher's --delta-min),
// and the client asks for none for a smaller installed file.
const uint64_t DELTA_MIN_BYTES = 1024 * 1024;
// An index beyond this is refused unread (a file of 1 TiB needs 12 MiB).
const size_t BLOCK_INDEX_MAX_BYTES = 32 * 1024 * 1024;
// The folder under which a signed manifest lists a file's index: "?blocks"
// for a file in the program folder, else "?blocks\" and the file's folder
// as listed; the name is the file's. No listed folder can
// carry "?", so these lines never stand for an installed file.
std::string BlockIndexManifestDir(const std::string& strListDir);

struct BlockIndex {
    uint64_t nFileSize = 0;
    uint32_t nBlockSize = 0;
    unsigned char fileSha256[32] = {};
    std::vector<uint32_t> weak;
    std::vector<uint64_t> strong;

    size_t BlockCount() const { return weak.size(); }
    uint64_t BlockOffset(size_t i) const { return static_cast<uint64_t>(i) * nBlockSize; }
    uint32_t BlockLength(size_t i) const;
};

// The block size for a file: about the square root of its size, rounded to a
// power of two, from 4 KiB to 1 MiB.
uint32_t BlockSizeFor(uint64_t nFileSize);
// Blocks of a file of that size in that block size.
uint64_t BlockCountFor(uint64_t nFileSize, uint32_t nBlockSize);
// Bytes of the index of a file of that size.
uint64_t BlockIndexBytesFor(uint64_t nFileSize);

// The weak checksum over a window of fixed length, moved one byte at a time:
// two 16-bit sums, the plain one and the one weighted by position.
class RollingChecksum {
public:
    void Reset(const unsigned char* p, size_t nLen);
    // The window moves on by one byte: bOut leaves at its start, bIn joins at its end.
    void Roll(unsigned char bOut, unsigned char bIn) {
        m_a = static_cast<uint32_t>(m_a - bOut + bIn);
        m_b = static_cast<uint32_t>(m_b - m_nLen * bOut + m_a);
    }
    uint32_t Value() const { return (m_a & 0xFFFF) | (m_b << 16); }

private:
    uint32_t m_a = 0, m_b = 0, m_nLen = 0;
};
uint32_t WeakBlockChecksum(const void* pData, size_t nLen);
uint64_t StrongBlockHash(const void* pData, size_t nLen);

// Builds an index from a file's bytes fed in order, in pieces of any size.
class BlockIndexBuilder {
public:
    explicit BlockIndexBuilder(uint64_t nFileSize, uint32_t nBlockSize = 0);  // 0: BlockSizeFor
    void Update(const void* pData, size_t nSize);
    // The index text, once exactly nFileSize bytes were fed (empty otherwise).
    std::string Finish(const unsigned char fileSha256[32]);

private:
    void EndBlock();

    BlockIndex m_index;
    std::vector<unsigned char> m_block;  // the current block's bytes so far
    uint64_t m_nFed = 0;
};

std::string FormatBlockIndex(const BlockIndex& index);
// Reads an index; false with the reason for anything malformed or inconsistent.
bool ParseBlockIndex(const void* pText, size_t nSize, BlockIndex& index, std::string& strWhy);

}  // namespace net
