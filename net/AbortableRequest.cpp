// The abortable request; see AbortableRequest.h.
#include "net/AbortableRequest.h"

namespace net {

namespace {

DWORD WINAPI CloseRequestProc(LPVOID pParam) {
    InternetCloseHandle(static_cast<HINTERNET>(pParam));
    return 0;
}

}  // namespace

AbortableRequest::AbortableRequest(fw::CancelToken& token) : m_token(token), m_hook(token, [this] { Abandon(); }) {}

AbortableRequest::~AbortableRequest() { Abandon(); }

bool AbortableRequest::Adopt(HINTERNET hRequest) {
    Close();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_hRequest = hRequest;
    }
    // A cancel between the open and here has found no handle: it is closed now.
    if (!m_token.IsCancelled()) return true;
    Close();
    return false;
}

void AbortableRequest::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    HINTERNET hRequest = m_hRequest.exchange(nullptr);
    if (hRequest) InternetCloseHandle(hRequest);
}

void AbortableRequest::Abandon() {
    std::lock_guard<std::mutex> lock(m_lock);
    HINTERNET hRequest = m_hRequest.exchange(nullptr);
    if (!hRequest) return;
    HANDLE hThread = CreateThread(nullptr, 0, CloseRequestProc, hRequest, 0, nullptr);
    if (hThread) CloseHandle(hThread);
    else InternetCloseHandle(hRequest);
}

}  // namespace net
