// Finds the blocks of a new file (by its block index) in the old file a
// player has, wherever they moved, and plans the byte ranges still to fetch.
// The weak checksum slides over the old file one byte at a time; each weak
// hit is confirmed with the strong hash before a block counts as found.
// No Windows header: the old file is read through a callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "net/BlockIndex.h"

namespace net {

const uint64_t BLOCK_MISSING = UINT64_MAX;

// A span of the new file, [nFirst, nFirst + nLength).
struct ByteRange {
    uint64_t nFirst = 0;
    uint64_t nLength = 0;
    bool operator==(const ByteRange& o) const { return nFirst == o.nFirst && nLength == o.nLength; }
};

// Reads nSize bytes of the old file at nOffset into p; false when it can't.
using OldFileReader = std::function<bool(uint64_t nOffset, void* p, size_t nSize)>;

class BlockMatcher {
public:
    // The most a scan reads the old file in at once.
    static constexpr size_t kScanBufferBytes = 4 * 1024 * 1024;

    explicit BlockMatcher(const BlockIndex& index);
    BlockMatcher(const BlockMatcher&) = delete;
    BlockMatcher& operator=(const BlockMatcher&) = delete;

    // Scans an old file of nOldSize bytes. False when a read fails, pCancel
    // is set on the way or the scan's work passes its budget (GaveUp); what
    // was found until then stays.
    bool Scan(uint64_t nOldSize, const OldFileReader& read, const std::atomic<bool>* pCancel = nullptr);
    // The scan stopped because the data made it too costly: a few times the
    // old file's size in hashing and table steps, whatever the data.
    bool GaveUp() const { return m_nWork > m_nWorkLimit; }

    // Where block i of the new file starts in the old one, or BLOCK_MISSING.
    uint64_t OldOffset(size_t i) const { return m_oldOffsets[i]; }
    size_t FoundBlocks() const { return m_nFound; }
    // The spans of the new file from block nFromBlock on that no old block
    // gives, neighbours merged, in file order.
    std::vector<ByteRange> MissingRanges(size_t nFromBlock = 0) const;

private:
    void BuildTable();
    void AddToTable(uint32_t i);
    // A window the filter let through: true when some block is found there.
    bool TryWindow(uint32_t nWeak, const unsigned char* p, uint64_t nOldOffset);
    // Marks every block of the weak checksum nWeak whose strong hash the old
    // bytes at p give as found at nOldOffset; true when one was.
    bool TryMatch(uint32_t nWeak, const unsigned char* p, uint64_t nOldOffset);
    void MarkFound(uint32_t nFirst, uint64_t nOldOffset);
    size_t SlideToCandidate(const unsigned char* pBuf, size_t p, size_t nStop, RollingChecksum& sum) const;
    void MatchTail(uint64_t nOldSize, const OldFileReader& read);

    const BlockIndex& m_index;
    std::vector<uint64_t> m_oldOffsets;
    size_t m_nFound = 0;
    bool MayMatch(uint32_t nWeak) const {
        uint32_t nBit = (nWeak * 0x9E3779B1u) >> m_nFilterShift;
        return (m_filter[nBit >> 6] >> (nBit & 63)) & 1;
    }

    // Open hash of the full-size blocks by weak checksum: heads per bucket,
    // then a chain through m_next (kNone ends it). Equal blocks (runs of
    // zeros, padding) stand in it once, the others hang off the first
    // through m_same; and a weak checksum keeps a few distinct blocks only,
    // so no position of the old file tries more than that many hashes.
    std::vector<uint32_t> m_heads;
    std::vector<uint32_t> m_next;
    std::vector<uint32_t> m_same;
    uint32_t m_nMask = 0;
    // One bit per weak-checksum hash, 64 bits a block: small enough to stay
    // in the cache (256 KB for a 1 GiB file), so the byte-by-byte slide over
    // an old file that matches nothing mostly tests one bit that says no.
    // Half as many bits let twice as many bytes through to the table, and
    // those cost more than the larger filter's cache misses.
    std::vector<uint64_t> m_filter;
    uint32_t m_nFilterShift = 32;
    // The scan's cost so far (bytes hashed or compared, table steps) and its budget.
    uint64_t m_nWork = 0;
    uint64_t m_nWorkLimit = UINT64_MAX;
    // The last window that matched nothing, when all its bytes were one
    // value: [m_nRunStart, m_nRunEnd) of the old file holds only m_cRun, and
    // any window inside it fails the same way without a hash.
    bool m_bRun = false;
    unsigned char m_cRun = 0;
    uint64_t m_nRunStart = 0, m_nRunEnd = 0;
};

}  // namespace net
