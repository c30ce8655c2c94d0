// The block index of a released file; see BlockIndex.h.
#include "net/BlockIndex.h"

#include <cstring>

#include "net/TransferMath.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace net {
namespace {

const char kMagic[4] = {'S', 'R', 'B', 'I'};
const uint32_t kStrongBytes = 8;

void PutU32(std::string& s, uint32_t n) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((n >> (8 * i)) & 0xFF);
}

void PutU64(std::string& s, uint64_t n) {
    for (int i = 0; i < 8; ++i) s += static_cast<char>((n >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint64_t GetU64(const unsigned char* p) { return GetU32(p) | static_cast<uint64_t>(GetU32(p + 4)) << 32; }

bool IsPowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

std::string BlockIndexManifestDir(const std::string& strListDir) {
    if (strListDir == "/" || strListDir == "\\") return "?blocks";
    return "?blocks\\" + strListDir;
}

uint32_t BlockIndex::BlockLength(size_t i) const {
    uint64_t nOffset = BlockOffset(i);
    uint64_t nRest = nFileSize > nOffset ? nFileSize - nOffset : 0;
    return nRest < nBlockSize ? static_cast<uint32_t>(nRest) : nBlockSize;
}

uint32_t BlockSizeFor(uint64_t nFileSize) {
    uint32_t nSize = BLOCK_SIZE_MIN;
    // The power of two nearest the square root: grow while the next one's
    // square is no further above the size than this one's is below it.
    while (nSize < BLOCK_SIZE_MAX) {
        uint64_t nNext = static_cast<uint64_t>(nSize) * 2;
        if (nNext * nNext / 2 > nFileSize) break;
        nSize = static_cast<uint32_t>(nNext);
    }
    return nSize;
}

uint64_t BlockCountFor(uint64_t nFileSize, uint32_t nBlockSize) {
    // Not (size + block - 1) / block: near 2^64 that wraps to a handful of blocks.
    return nBlockSize == 0 ? 0 : nFileSize / nBlockSize + (nFileSize % nBlockSize != 0 ? 1 : 0);
}

uint64_t BlockIndexBytesFor(uint64_t nFileSize) {
    return BLOCK_INDEX_HEADER_BYTES + BlockCountFor(nFileSize, BlockSizeFor(nFileSize)) * BLOCK_INDEX_RECORD_BYTES;
}

void RollingChecksum::Reset(const unsigned char* p, size_t nLen) {
    m_a = m_b = 0;
    m_nLen = static_cast<uint32_t>(nLen);
    for (size_t i = 0; i < nLen; ++i) {
        m_a += p[i];
        m_b += m_a;
    }
}

uint32_t WeakBlockChecksum(const void* pData, size_t nLen) {
    RollingChecksum sum;
    sum.Reset(static_cast<const unsigned char*>(pData), nLen);
    return sum.Value();
}

uint64_t StrongBlockHash(const void* pData, size_t nLen) { return XXH3_64bits(pData, nLen); }

BlockIndexBuilder::BlockIndexBuilder(uint64_t nFileSize, uint32_t nBlockSize) {
    m_index.nFileSize = nFileSize;
    m_index.nBlockSize = nBlockSize != 0 ? nBlockSize : BlockSizeFor(nFileSize);
    size_t nBlocks = static_cast<size_t>(BlockCountFor(nFileSize, m_index.nBlockSize));
    m_index.weak.reserve(nBlocks);
    m_index.strong.reserve(nBlocks);
    m_block.reserve(m_index.nBlockSize);
}

void BlockIndexBuilder::EndBlock() {
    m_index.weak.push_back(WeakBlockChecksum(m_block.data(), m_block.size()));
    m_index.strong.push_back(StrongBlockHash(m_block.data(), m_block.size()));
    m_block.clear();
}

void BlockIndexBuilder::Update(const void* pData, size_t nSize) {
    const unsigned char* p = static_cast<const unsigned char*>(pData);
    m_nFed += nSize;
    // Whole blocks straight from the caller's bytes; only a piece that
    // straddles a block's end goes through the copy.
    while (m_block.empty() && nSize >= m_index.nBlockSize) {
        m_index.weak.push_back(WeakBlockChecksum(p, m_index.nBlockSize));
        m_index.strong.push_back(StrongBlockHash(p, m_index.nBlockSize));
        p += m_index.nBlockSize;
        nSize -= m_index.nBlockSize;
    }
    while (nSize > 0) {
        size_t nTake = m_index.nBlockSize - m_block.size();
        if (nTake > nSize) nTake = nSize;
        m_block.insert(m_block.end(), p, p + nTake);
        p += nTake;
        nSize -= nTake;
        if (m_block.size() == m_index.nBlockSize) EndBlock();
    }
}

std::string BlockIndexBuilder::Finish(const unsigned char fileSha256[32]) {
    if (m_nFed != m_index.nFileSize) return std::string();
    if (!m_block.empty()) EndBlock();
    std::memcpy(m_index.fileSha256, fileSha256, sizeof m_index.fileSha256);
    return FormatBlockIndex(m_index);
}

std::string FormatBlockIndex(const BlockIndex& index) {
    std::string s(kMagic, sizeof kMagic);
    s.reserve(BLOCK_INDEX_HEADER_BYTES + index.BlockCount() * BLOCK_INDEX_RECORD_BYTES);
    PutU32(s, BLOCK_INDEX_VERSION);
    PutU64(s, index.nFileSize);
    PutU32(s, index.nBlockSize);
    PutU32(s, kStrongBytes);
    s.append(reinterpret_cast<const char*>(index.fileSha256), sizeof index.fileSha256);
    for (size_t i = 0; i < index.BlockCount(); ++i) {
        PutU32(s, index.weak[i]);
        PutU64(s, index.strong[i]);
    }
    return s;
}

bool ParseBlockIndex(const void* pText, size_t nSize, BlockIndex& index, std::string& strWhy) {
    const unsigned char* p = static_cast<const unsigned char*>(pText);
    if (nSize < BLOCK_INDEX_HEADER_BYTES || nSize > BLOCK_INDEX_MAX_BYTES || std::memcmp(p, kMagic, 4) != 0) {
        strWhy = "no block index";
        return false;
    }
    BlockIndex parsed;
    parsed.nFileSize = GetU64(p + 8);
    parsed.nBlockSize = GetU32(p + 16);
    if (GetU32(p + 4) != BLOCK_INDEX_VERSION || GetU32(p + 20) != kStrongBytes) {
        strWhy = "another version of the format";
        return false;
    }
    if (!IsPowerOfTwo(parsed.nBlockSize) || parsed.nBlockSize < BLOCK_SIZE_MIN || parsed.nBlockSize > BLOCK_SIZE_MAX) {
        strWhy = "a block size out of range";
        return false;
    }
    if (parsed.nFileSize > kMaxFileBytes) {
        strWhy = "a file size past any disk";
        return false;
    }
    uint64_t nBlocks = BlockCountFor(parsed.nFileSize, parsed.nBlockSize);
    if ((nSize - BLOCK_INDEX_HEADER_BYTES) % BLOCK_INDEX_RECORD_BYTES != 0 ||
        (nSize - BLOCK_INDEX_HEADER_BYTES) / BLOCK_INDEX_RECORD_BYTES != nBlocks) {
        strWhy = "the blocks don't add up to the file's size";
        return false;
    }
    std::memcpy(parsed.fileSha256, p + 24, sizeof parsed.fileSha256);
    parsed.weak.resize(static_cast<size_t>(nBlocks));
    parsed.strong.resize(static_cast<size_t>(nBlocks));
    const unsigned char* pRecord = p + BLOCK_INDEX_HEADER_BYTES;
    for (size_t i = 0; i < parsed.BlockCount(); ++i, pRecord += BLOCK_INDEX_RECORD_BYTES) {
        parsed.weak[i] = GetU32(pRecord);
        parsed.strong[i] = GetU64(pRecord + 4);
    }
    index = std::move(parsed);
    return true;
}

}  // namespace net
