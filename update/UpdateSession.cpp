// The update session; see UpdateSession.h.
#include "update/UpdateSession.h"

#include <mmsystem.h>

std::atomic<unsigned char> g_bRunResult{0};
std::atomic<unsigned char> g_bSelfUpdated{0};
std::vector<FileEntry> g_updateList;
UpdateSession g_updateSession;

UpdateSession::~UpdateSession() {
    Stop(INFINITE);
    SetListener(nullptr);
}

bool UpdateSession::Start(const UpdateSettings& settings) {
    // The old run must be gone before its successor exists.
    Stop(INFINITE);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pRun.reset(new UpdateRun(settings, m_progress));
    }
    m_thread.Reset(CreateThread(nullptr, 0, &UpdateSession::RunThreadProc, this, 0, nullptr));
    return m_thread.IsValid();
}

DWORD WINAPI UpdateSession::RunThreadProc(LPVOID pParam) {
    UpdateSession* self = static_cast<UpdateSession*>(pParam);
    UpdateRun* pRun;
    {
        std::lock_guard<std::mutex> lock(self->m_lock);
        pRun = self->m_pRun.get();
    }
    // The run goes only when this thread has ended (Start and Stop wait for it).
    pRun->Execute();
    return 0;
}

void UpdateSession::Cancel() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pRun) m_pRun->Cancel();
}

bool UpdateSession::Stop(DWORD nWaitMs) {
    if (!m_thread.IsValid()) return true;
    DWORD dwCancelledAt;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pRun->Cancel();
        dwCancelledAt = m_pRun->CancelledAt();
    }
    if (nWaitMs != INFINITE) {
        DWORD nSince = timeGetTime() - dwCancelledAt;
        nWaitMs = nSince < nWaitMs ? nWaitMs - nSince : 0;
    }
    if (WaitForSingleObject(m_thread.Get(), nWaitMs) != WAIT_OBJECT_0) return false;
    m_thread.Reset();
    return true;
}
