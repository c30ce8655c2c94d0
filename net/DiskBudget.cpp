// Free disk space shared by a run's transfers; see DiskBudget.h.
#include "net/DiskBudget.h"

#include "net/PartFile.h"

namespace net {

bool DiskBudget::Reserve(const std::string& strTarget, uint64_t nBytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (nBytes > UINT64_MAX - m_nOutstanding || !PartFile::HasRoomFor(strTarget, m_nOutstanding + nBytes))
        return false;
    m_nOutstanding += nBytes;
    return true;
}

void DiskBudget::Release(uint64_t nBytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_nOutstanding -= nBytes < m_nOutstanding ? nBytes : m_nOutstanding;
}

bool DiskReservation::Take(const std::string& strTarget, uint64_t nBytes) {
    Release(m_nHeld);
    if (!m_pBudget) return PartFile::HasRoomFor(strTarget, nBytes);
    if (!m_pBudget->Reserve(strTarget, nBytes)) return false;
    m_nHeld = nBytes;
    return true;
}

void DiskReservation::Release(uint64_t nBytes) {
    if (!m_pBudget || nBytes == 0) return;
    m_pBudget->Release(nBytes);
    m_nHeld -= nBytes;
}

}  // namespace net
