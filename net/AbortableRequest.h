// The open request of a transfer, which the run's cancel closes from another
// thread: closing a WinINet handle makes a pending call on it return (on
// Windows; Wine's WinINet returns only at the request's stall limit).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <mutex>

#include "framework/CancelToken.h"

namespace net {

class AbortableRequest {
public:
    explicit AbortableRequest(fw::CancelToken& token);
    // Lets a request that is still open go, as Abandon does.
    ~AbortableRequest();
    AbortableRequest(const AbortableRequest&) = delete;
    AbortableRequest& operator=(const AbortableRequest&) = delete;

    // Takes ownership of a freshly opened request, closing any earlier one.
    // False, and the handle closed at once, when the run is called off.
    bool Adopt(HINTERNET hRequest);
    // The open request, for the thread that adopted it.
    HINTERNET Handle() const { return m_hRequest.load(); }
    // Closes the request, if still open; safe from any thread, any number of times.
    void Close();
    // Closes the request, if still open, on a thread of its own, so that the
    // caller never waits for what the platform does with an unread body
    // (Wine's WinINet reads whatever a fast server still sends, which from an
    // endless body never ends).
    void Abandon();
    bool IsAborted() const { return m_token.IsCancelled(); }
    const std::atomic<bool>& AbortFlag() const { return m_token.Flag(); }

private:
    fw::CancelToken& m_token;
    std::mutex m_lock;
    std::atomic<HINTERNET> m_hRequest{nullptr};
    fw::CancelHook m_hook;  // last: it goes before what it closes
};

}  // namespace net
