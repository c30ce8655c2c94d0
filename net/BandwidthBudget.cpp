// The run's bandwidth budget; see BandwidthBudget.h.
#include "net/BandwidthBudget.h"

#include <mmsystem.h>

namespace net {

namespace {
// A quiet budget fills up to this much: a burst after a pause stays short.
const DWORD kBurstMs = 100;
}  // namespace

void BandwidthBudget::SetRate(uint32_t nBytesPerSecond) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_nRate = nBytesPerSecond;
    m_nTokens = 0;
    m_dwLastTick = timeGetTime();
}

DWORD BandwidthBudget::ReadCap(DWORD nWanted) const {
    uint32_t nRate = m_nRate.load();
    if (nRate == 0) return nWanted;
    DWORD nCap = nRate / 10 > 4096 ? nRate / 10 : 4096;
    return nWanted < nCap ? nWanted : nCap;
}

DWORD BandwidthBudget::TakeLocked(DWORD nBytes) {
    const int64_t nRate = m_nRate.load();
    DWORD dwNow = timeGetTime();
    m_nTokens += nRate * static_cast<int64_t>(dwNow - m_dwLastTick) / 1000;
    m_dwLastTick = dwNow;
    if (m_nTokens > nRate * kBurstMs / 1000) m_nTokens = nRate * kBurstMs / 1000;
    m_nTokens -= nBytes;
    return m_nTokens >= 0 ? 0 : static_cast<DWORD>(-m_nTokens * 1000 / nRate) + 1;
}

bool BandwidthBudget::Take(DWORD nBytes, const fw::CancelToken& cancel) {
    if (m_nRate.load() == 0) return true;
    DWORD nWaitMs;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        nWaitMs = TakeLocked(nBytes);
    }
    // The debt is this reader's: it waits it off, and a cancel ends the wait at once.
    return nWaitMs == 0 ? !cancel.IsCancelled() : cancel.Pause(nWaitMs);
}

}  // namespace net
