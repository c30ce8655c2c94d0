// Free disk space shared by the transfers of a run. The system's free space
// drops only as bytes are written, so several transfers that each see room
// for their own body could together overfill the disk: each reserves what it
// still has to write, and a new one starts only where the free space less
// every other's outstanding bytes holds it. One budget per run: every target
// of a run lies in the program folder, on one volume.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace net {

class DiskBudget {
public:
    DiskBudget() = default;
    DiskBudget(const DiskBudget&) = delete;
    DiskBudget& operator=(const DiskBudget&) = delete;

    // Reserves nBytes for a write beside strTarget; false when they don't fit.
    bool Reserve(const std::string& strTarget, uint64_t nBytes);
    // Gives back bytes that were written (the free space shows them now) or
    // that won't be written any more.
    void Release(uint64_t nBytes);

private:
    std::mutex m_lock;
    uint64_t m_nOutstanding = 0;
};

// One transfer's share of a budget, given back on every way out. Without a
// budget it only asks whether the disk has room.
class DiskReservation {
public:
    explicit DiskReservation(DiskBudget* pBudget) : m_pBudget(pBudget) {}
    ~DiskReservation() { Release(m_nHeld); }
    DiskReservation(const DiskReservation&) = delete;
    DiskReservation& operator=(const DiskReservation&) = delete;

    bool Take(const std::string& strTarget, uint64_t nBytes);
    // nBytes of the reserved ones are on disk now.
    void Written(uint64_t nBytes) { Release(nBytes < m_nHeld ? nBytes : m_nHeld); }
    // Gives back all that is held.
    void Clear() { Release(m_nHeld); }

private:
    void Release(uint64_t nBytes);

    DiskBudget* m_pBudget;
    uint64_t m_nHeld = 0;
};

}  // namespace net
