// The abortable request slot; see AbortableRequest.h.
#include "net/AbortableRequest.h"

#include "framework/Handles.h"

namespace net {

AbortableRequest::AbortableRequest() { InitializeCriticalSection(&m_cs); }

AbortableRequest::~AbortableRequest() {
    Close();
    DeleteCriticalSection(&m_cs);
}

void AbortableRequest::Begin() {
    Close();
    m_bAborted = false;
}

bool AbortableRequest::Adopt(HINTERNET hRequest) {
    {
        fw::CriticalSectionLock lock(m_cs);
        m_hRequest = hRequest;
    }
    if (!m_bAborted.load()) return true;
    Close();
    return false;
}

void AbortableRequest::Close() {
    fw::CriticalSectionLock lock(m_cs);
    if (m_hRequest) InternetCloseHandle(m_hRequest);
    m_hRequest = nullptr;
}

void AbortableRequest::Abort() {
    // The flag first: a request adopted after this sees it and closes itself.
    m_bAborted = true;
    Close();
}

}  // namespace net
