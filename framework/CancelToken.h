// One run's call-off: a flag for work that looks between steps, an event for
// waits, and hooks through which whatever blocks (an open request, a queue,
// a budget) is let go the moment the run is called off.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

#include "framework/Handles.h"

namespace fw {

class CancelToken {
public:
    CancelToken();
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    // Sets the flag and the event and runs every hook once; any thread, and
    // only the first call does anything.
    void Cancel();
    bool IsCancelled() const { return m_bCancelled.load(); }
    // For loops that look at a flag between steps (scans, checksums, commits).
    const std::atomic<bool>& Flag() const { return m_bCancelled; }
    // When Cancel was first called (timeGetTime), 0 before.
    DWORD CancelledAt() const { return m_dwCancelledAt.load(); }
    // Waits nMs; false when the run is called off first, or already was.
    bool Pause(DWORD nMs) const;
    // Signalled once called off.
    HANDLE Event() const { return m_event.Get(); }

    // A hook runs on the cancelling thread and must not block; one added
    // after the cancel runs at once. Remove waits for a hook that is running.
    size_t AddHook(std::function<void()> fn);
    void RemoveHook(size_t nId);

private:
    std::atomic<bool> m_bCancelled{false};
    std::atomic<DWORD> m_dwCancelledAt{0};
    UniqueHandle m_event;
    std::mutex m_lock;  // guards the hooks; held while they run
    std::map<size_t, std::function<void()>> m_hooks;
    size_t m_nNextHook = 1;
};

// A hook for as long as this object lives.
class CancelHook {
public:
    CancelHook(CancelToken& token, std::function<void()> fn) : m_token(token), m_nId(token.AddHook(std::move(fn))) {}
    ~CancelHook() { m_token.RemoveHook(m_nId); }
    CancelHook(const CancelHook&) = delete;
    CancelHook& operator=(const CancelHook&) = delete;

private:
    CancelToken& m_token;
    size_t m_nId;
};

}  // namespace fw
