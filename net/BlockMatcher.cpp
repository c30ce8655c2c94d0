// Finding a new file's blocks in the old one; see BlockMatcher.h.
#include "net/BlockMatcher.h"

#include <algorithm>
#include <cstring>

namespace net {
namespace {

const uint32_t kNone = UINT32_MAX;
// The old file is read in windows of this size (four blocks of the largest size).
const size_t kWindowBytes = BlockMatcher::kScanBufferBytes;
// Distinct blocks a weak checksum keeps in the table: real files have one;
// more only come from crafted indexes or weak checksums that collide.
const size_t kMaxPerWeak = 4;
// The scan's budget, in bytes hashed or compared: a matching old file costs
// about its own size once; the rest is room for chance collisions. A table
// step counts as a few bytes.
const uint64_t kWorkPerOldByte = 8;
const uint64_t kWorkAtLeast = 64ull * 1024 * 1024;
const uint64_t kStepWork = 16;

}  // namespace

BlockMatcher::BlockMatcher(const BlockIndex& index) : m_index(index), m_oldOffsets(index.BlockCount(), BLOCK_MISSING) {
    BuildTable();
}

void BlockMatcher::BuildTable() {
    const size_t nBlocks = m_index.BlockCount();
    // Four buckets a block: most bytes of an old file that match nothing
    // then end at one empty bucket.
    uint32_t nBits = 4;
    while (nBits < 30 && (static_cast<size_t>(1) << nBits) < nBlocks * 4) ++nBits;
    m_nMask = (1u << nBits) - 1;
    m_heads.assign(static_cast<size_t>(m_nMask) + 1, kNone);
    m_next.assign(nBlocks, kNone);
    m_same.assign(nBlocks, kNone);
    uint32_t nFilterBits = 12;
    while (nFilterBits < 28 && (static_cast<size_t>(1) << nFilterBits) < nBlocks * 64) ++nFilterBits;
    m_nFilterShift = 32 - nFilterBits;
    m_filter.assign((static_cast<size_t>(1) << nFilterBits) / 64, 0);
    // The full-size blocks by weak checksum, strong hash and place: equal
    // blocks and the blocks of one weak checksum come together.
    std::vector<uint32_t> order;
    order.reserve(nBlocks);
    for (size_t i = 0; i < nBlocks; ++i)
        if (m_index.BlockLength(i) == m_index.nBlockSize) order.push_back(static_cast<uint32_t>(i));
    std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
        if (m_index.weak[a] != m_index.weak[b]) return m_index.weak[a] < m_index.weak[b];
        if (m_index.strong[a] != m_index.strong[b]) return m_index.strong[a] < m_index.strong[b];
        return a < b;
    });
    size_t nDistinct = 0;  // of the current weak checksum
    for (size_t k = 0; k < order.size(); ++k) {
        const uint32_t i = order[k];
        if (k > 0 && m_index.weak[order[k - 1]] == m_index.weak[i]) {
            if (m_index.strong[order[k - 1]] == m_index.strong[i]) {
                m_same[order[k - 1]] = i;  // equal to the one before: found with it
                continue;
            }
        } else {
            nDistinct = 0;
        }
        if (nDistinct++ < kMaxPerWeak) AddToTable(i);
    }
}

void BlockMatcher::AddToTable(uint32_t i) {
    uint32_t& head = m_heads[(m_index.weak[i] * 2654435761u >> 7) & m_nMask];
    m_next[i] = head;
    head = i;
    uint32_t nBit = (m_index.weak[i] * 0x9E3779B1u) >> m_nFilterShift;
    m_filter[nBit >> 6] |= 1ull << (nBit & 63);
}

bool BlockMatcher::TryMatch(uint32_t nWeak, const unsigned char* p, uint64_t nOldOffset) {
    bool bHashed = false, bFound = false;
    uint64_t nStrong = 0;
    for (uint32_t i = m_heads[(nWeak * 2654435761u >> 7) & m_nMask]; i != kNone; i = m_next[i]) {
        m_nWork += kStepWork;
        if (m_index.weak[i] != nWeak) continue;
        if (!bHashed) {
            nStrong = StrongBlockHash(p, m_index.nBlockSize);
            m_nWork += m_index.nBlockSize;
            bHashed = true;
        }
        if (m_index.strong[i] != nStrong) continue;
        bFound = true;
        if (m_oldOffsets[i] == BLOCK_MISSING) MarkFound(i, nOldOffset);
    }
    return bFound;
}

// A block and all that equal it come from here.
void BlockMatcher::MarkFound(uint32_t nFirst, uint64_t nOldOffset) {
    for (uint32_t i = nFirst; i != kNone; i = m_same[i]) {
        m_oldOffsets[i] = nOldOffset;
        ++m_nFound;
    }
}

bool BlockMatcher::TryWindow(uint32_t nWeak, const unsigned char* p, uint64_t nOldOffset) {
    const size_t n = m_index.nBlockSize;
    // Still inside the run of one byte value that matched nothing: the
    // window holds the same bytes as the one tried before.
    if (m_bRun && nOldOffset >= m_nRunStart && m_nRunEnd >= nOldOffset) {
        while (m_nRunEnd < nOldOffset + n && p[m_nRunEnd - nOldOffset] == m_cRun) ++m_nRunEnd;
        if (m_nRunEnd >= nOldOffset + n) return false;
        m_bRun = false;
    }
    if (TryMatch(nWeak, p, nOldOffset)) return true;
    if (p[0] == p[n - 1]) {
        m_nWork += n;
        m_bRun = std::memcmp(p, p + 1, n - 1) == 0;
        m_cRun = p[0];
        m_nRunStart = nOldOffset;
        m_nRunEnd = nOldOffset + n;
    }
    return false;
}

// The no-match path, where nearly all of an unrelated file's bytes go: the
// checksum lives in registers here (a copy), and the loop does nothing but
// roll and test the filter.
size_t BlockMatcher::SlideToCandidate(const unsigned char* pBuf, size_t p, size_t nStop, RollingChecksum& sum) const {
    RollingChecksum s = sum;
    const size_t nBlock = m_index.nBlockSize;
    while (p < nStop && !MayMatch(s.Value())) {
        s.Roll(pBuf[p], pBuf[p + nBlock]);
        ++p;
    }
    sum = s;
    return p;
}

bool BlockMatcher::Scan(uint64_t nOldSize, const OldFileReader& read, const std::atomic<bool>* pCancel) {
    const size_t nBlock = m_index.nBlockSize;
    m_nWork = 0;
    m_nWorkLimit = kWorkPerOldByte * nOldSize + kWorkAtLeast;
    if (m_index.BlockCount() > 0 && nOldSize >= nBlock) {
        std::vector<unsigned char> buffer(kWindowBytes > 4 * nBlock ? kWindowBytes : 4 * nBlock);
        unsigned char* const pBuf = buffer.data();
        uint64_t nBufStart = 0;  // the buffer holds the old bytes [nBufStart, nBufStart + nBufLen)
        size_t nBufLen = 0, p = 0;
        bool bFresh = true;  // the window's checksum must be summed anew at p
        RollingChecksum sum;
        for (;;) {
            // Rolling on needs the byte after the window: keep it in the buffer.
            if (p + nBlock >= nBufLen && nBufStart + nBufLen < nOldSize) {
                if (pCancel && pCancel->load()) return false;
                std::memmove(pBuf, pBuf + p, nBufLen - p);
                nBufStart += p;
                nBufLen -= p;
                p = 0;
                uint64_t nLeft = nOldSize - nBufStart - nBufLen;
                size_t nWant = buffer.size() - nBufLen;
                if (nLeft < nWant) nWant = static_cast<size_t>(nLeft);
                if (!read(nBufStart + nBufLen, pBuf + nBufLen, nWant)) return false;
                nBufLen += nWant;
            }
            if (p + nBlock > nBufLen) break;
            if (bFresh) {
                sum.Reset(pBuf + p, nBlock);
                bFresh = false;
            }
            // Positions before nStop have the byte after their window in the buffer.
            const size_t nStop = nBufLen - nBlock;
            p = SlideToCandidate(pBuf, p, nStop, sum);
            uint32_t nWeak = sum.Value();
            if (MayMatch(nWeak) && TryWindow(nWeak, pBuf + p, nBufStart + p)) {
                p += nBlock;
                bFresh = true;
                continue;
            }
            if (GaveUp()) return false;
            if (p >= nStop) {
                if (nBufStart + nBufLen >= nOldSize) break;
                continue;  // refill first
            }
            sum.Roll(pBuf[p], pBuf[p + nBlock]);
            ++p;
        }
    }
    MatchTail(nOldSize, read);
    return true;
}

// A short last block is in no table: it is looked for where it ends the old
// file and where it stands in the new one.
void BlockMatcher::MatchTail(uint64_t nOldSize, const OldFileReader& read) {
    const size_t nBlocks = m_index.BlockCount();
    if (nBlocks == 0 || m_oldOffsets[nBlocks - 1] != BLOCK_MISSING) return;
    const size_t nLast = nBlocks - 1;
    const uint32_t nLength = m_index.BlockLength(nLast);
    if (nLength == 0 || nLength > nOldSize) return;
    std::vector<unsigned char> tail(nLength);
    for (uint64_t nAt : {nOldSize - nLength, m_index.BlockOffset(nLast)}) {
        if (nAt + nLength > nOldSize || !read(nAt, tail.data(), nLength)) continue;
        if (WeakBlockChecksum(tail.data(), nLength) == m_index.weak[nLast] &&
            StrongBlockHash(tail.data(), nLength) == m_index.strong[nLast]) {
            m_oldOffsets[nLast] = nAt;
            ++m_nFound;
            return;
        }
    }
}

std::vector<ByteRange> BlockMatcher::MissingRanges(size_t nFromBlock) const {
    std::vector<ByteRange> ranges;
    for (size_t i = nFromBlock; i < m_index.BlockCount(); ++i) {
        if (m_oldOffsets[i] != BLOCK_MISSING) continue;
        uint64_t nFirst = m_index.BlockOffset(i);
        if (!ranges.empty() && ranges.back().nFirst + ranges.back().nLength == nFirst)
            ranges.back().nLength += m_index.BlockLength(i);
        else
            ranges.push_back({nFirst, m_index.BlockLength(i)});
    }
    return ranges;
}

}  // namespace net
