// The abortable request slot; see AbortableRequest.h.
#include "net/AbortableRequest.h"

namespace net {

namespace {

DWORD WINAPI CloseRequestProc(LPVOID pParam) {
    InternetCloseHandle(static_cast<HINTERNET>(pParam));
    return 0;
}

}  // namespace

void AbortableRequest::Begin() {
    Close();
    m_bAborted = false;
}

bool AbortableRequest::Adopt(HINTERNET hRequest) {
    Close();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_hRequest = hRequest;
    }
    if (!m_bAborted.load()) return true;
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

void AbortableRequest::Abort() {
    // The flag first: a request adopted after this sees it and closes itself.
    m_bAborted = true;
    Abandon();
}

}  // namespace net
