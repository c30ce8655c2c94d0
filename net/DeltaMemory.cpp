// The budget of the rebuilt downloads' memory; see DeltaMemory.h.
#include "net/DeltaMemory.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "net/BlockIndex.h"

namespace net {
namespace {

// Per block: 12 bytes of text, 12 parsed, 8 of the old offset, 4 + 4 of the
// chains, 4 while sorting, up to 32 of buckets and 16 of filter.
const uint64_t kBytesPerBlock = 92;
// A waiting transfer looks at its abort flag this often.
const int kWaitSliceMs = 50;

struct Budget {
    std::mutex lock;
    std::condition_variable freed;
    uint64_t nHeld = 0;
};

Budget& TheBudget() {
    static Budget budget;
    return budget;
}

}  // namespace

uint64_t DeltaMemoryFor(uint64_t nIndexBytes) {
    uint64_t nBlocks = nIndexBytes > BLOCK_INDEX_HEADER_BYTES
                           ? (nIndexBytes - BLOCK_INDEX_HEADER_BYTES) / BLOCK_INDEX_RECORD_BYTES + 1
                           : 1;
    return nBlocks * kBytesPerBlock;
}

bool DeltaMemoryShare::Take(uint64_t nBytes, bool bWait, const std::atomic<bool>& bAbort) {
    Budget& budget = TheBudget();
    std::unique_lock<std::mutex> lock(budget.lock);
    // More than the whole budget never fits, however long it waits.
    if (nBytes > DELTA_MEMORY_BUDGET - m_nHeld) return false;
    while (budget.nHeld + nBytes > DELTA_MEMORY_BUDGET) {
        if (!bWait || bAbort.load()) return false;
        budget.freed.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs));
    }
    budget.nHeld += nBytes;
    m_nHeld += nBytes;
    return true;
}

void DeltaMemoryShare::Release(uint64_t nBytes) {
    if (nBytes > m_nHeld) nBytes = m_nHeld;
    if (nBytes == 0) return;
    Budget& budget = TheBudget();
    {
        std::lock_guard<std::mutex> lock(budget.lock);
        budget.nHeld -= nBytes;
    }
    m_nHeld -= nBytes;
    budget.freed.notify_all();
}

}  // namespace net
