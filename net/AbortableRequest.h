// The request handle of the running transfer, which another thread may close
// to abort it: closing a WinINet handle makes a pending call on it return
// (on Windows; Wine's WinINet returns only at the request's stall limit).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <mutex>

namespace net {

class AbortableRequest {
public:
    AbortableRequest() = default;
    ~AbortableRequest() { Close(); }
    AbortableRequest(const AbortableRequest&) = delete;
    AbortableRequest& operator=(const AbortableRequest&) = delete;

    // Readies the slot for a new transfer: not aborted, no handle.
    void Begin();
    // Takes ownership of a freshly opened request, closing any earlier one.
    // False, and the handle closed at once, when already aborted.
    bool Adopt(HINTERNET hRequest);
    // The open request, for the thread that adopted it.
    HINTERNET Handle() const { return m_hRequest.load(); }
    // Closes the request, if still open; safe from any thread, any number of times.
    void Close();
    // Closes the request, if still open, on a thread of its own, so that the
    // caller never waits for what the platform does with an unread body.
    void Abandon();
    // Marks the transfer aborted and lets its request go (as Abandon).
    void Abort();
    bool IsAborted() const { return m_bAborted.load(); }
    const std::atomic<bool>& AbortFlag() const { return m_bAborted; }

private:
    std::mutex m_lock;
    std::atomic<HINTERNET> m_hRequest{nullptr};
    std::atomic<bool> m_bAborted{false};
};

}  // namespace net
