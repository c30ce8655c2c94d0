// One bandwidth budget for every transfer of a run: a token bucket under one
// lock. A read takes its bytes after it arrived, and the reader then waits
// until the budget is out of debt, so the run's total follows the rate
// however many transfers share it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "framework/CancelToken.h"

namespace net {

class BandwidthBudget {
public:
    // Bytes per second; 0: no cap.
    void SetRate(uint32_t nBytesPerSecond);
    uint32_t Rate() const { return m_nRate.load(); }
    // The most one read should ask for: a tenth of a second's worth.
    DWORD ReadCap(DWORD nWanted) const;
    // Takes nBytes and waits while the budget is in debt; false when the run
    // was called off meanwhile.
    bool Take(DWORD nBytes, const fw::CancelToken& cancel);

private:
    // The debt left after taking nBytes, in milliseconds of the rate.
    DWORD TakeLocked(DWORD nBytes);

    std::atomic<uint32_t> m_nRate{0};
    std::mutex m_lock;
    int64_t m_nTokens = 0;  // guarded by m_lock; negative is debt
    DWORD m_dwLastTick = 0;
};

}  // namespace net
