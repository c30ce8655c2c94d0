// The run's call-off; see CancelToken.h.
#include "framework/CancelToken.h"

#include <mmsystem.h>

namespace fw {

CancelToken::CancelToken() : m_event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

void CancelToken::Cancel() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bCancelled.exchange(true)) return;
    DWORD dwNow = timeGetTime();
    m_dwCancelledAt = dwNow ? dwNow : 1;
    if (m_event.IsValid()) SetEvent(m_event.Get());
    for (auto& hook : m_hooks) hook.second();
}

bool CancelToken::Pause(DWORD nMs) const {
    if (IsCancelled()) return false;
    if (!m_event.IsValid()) {
        Sleep(nMs);
        return !IsCancelled();
    }
    return WaitForSingleObject(m_event.Get(), nMs) == WAIT_TIMEOUT && !IsCancelled();
}

size_t CancelToken::AddHook(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bCancelled.load()) {
        fn();
        return 0;
    }
    m_hooks.emplace(m_nNextHook, std::move(fn));
    return m_nNextHook++;
}

void CancelToken::RemoveHook(size_t nId) {
    if (nId == 0) return;
    std::lock_guard<std::mutex> lock(m_lock);
    m_hooks.erase(nId);
}

}  // namespace fw
