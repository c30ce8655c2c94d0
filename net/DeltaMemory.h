// The memory that rebuilt downloads hold at once for their block indexes and
// scan tables, shared by every transfer of the process. A 32-bit process has
// some 2 GB: crafted indexes on many slots could take it all, so together
// they get a fixed budget, and a transfer whose index doesn't fit in what is
// left takes the whole file instead. No Windows header.
#pragma once

#include <atomic>
#include <cstdint>

namespace net {

const uint64_t DELTA_MEMORY_BUDGET = 64ull * 1024 * 1024;

// What a transfer holds for an index of that many bytes while it works: the
// text, the parsed blocks and the scan's tables (their sizes rounded up to
// powers of two).
uint64_t DeltaMemoryFor(uint64_t nIndexBytes);

// One transfer's share of the budget, given back on every way out.
class DeltaMemoryShare {
public:
    DeltaMemoryShare() = default;
    ~DeltaMemoryShare() { Release(); }
    DeltaMemoryShare(const DeltaMemoryShare&) = delete;
    DeltaMemoryShare& operator=(const DeltaMemoryShare&) = delete;

    // Adds nBytes to the share: false, holding what it held, when they don't
    // fit in what the others leave. With bWait it waits for room as long as
    // the others could make it and bAbort stays clear.
    bool Take(uint64_t nBytes, bool bWait, const std::atomic<bool>& bAbort);
    // Gives nBytes of the share back (all of it for UINT64_MAX).
    void Release(uint64_t nBytes = UINT64_MAX);

private:
    uint64_t m_nHeld = 0;
};

}  // namespace net
