// The update session: server choice, the run thread's life, and the events
// that turn fetcher progress into counters and repaints.
#include "update/UpdateSession.h"

#include <cstdio>
#include <cstdlib>

#include "framework/Handles.h"
#include "res/Texts.h"
#include "ui/Layout.h"

namespace {
// Long enough for a cancelled transfer to let go of its connection.
const DWORD kRunStopWaitMs = 4000;

void Repaint(const RepaintArea& area) { InvalidateArea(area.left, area.top, area.width, area.height); }
}  // namespace

void InvalidateArea(int nLeft, int nTop, int nWidth, int nHeight) {
    HWND hwnd = g_hUpdateWnd;
    if (!hwnd) return;
    RECT rc = {nLeft, nTop, nLeft + nWidth, nTop + nHeight};
    InvalidateRect(hwnd, &rc, TRUE);
}

UpdateSession::UpdateSession() = default;

UpdateSession::~UpdateSession() { StopRunThread(); }

std::string UpdateSession::GetStatus() const {
    std::lock_guard<std::mutex> lock(m_statusLock);
    return m_strStatus;
}

void UpdateSession::SetStatus(const std::string& strStatus) {
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_strStatus = strStatus;
}

bool UpdateSession::SetProduct(const char* pszProduct) {
    m_textLarge.SetFont(TEXT_FONT_SONG, 12, DEFAULT_CHARSET);
    m_strProduct = pszProduct;
    return true;
}

void UpdateSession::LoadUpdateServers() {
    m_lstUpdateServers.clear();
    std::FILE* pFile = std::fopen("update.ini", "rt");
    if (!pFile) return;
    ReadUpdateServers(pFile, m_lstUpdateServers);
    std::fclose(pFile);
}

bool UpdateSession::StartUpdateRun(int nLineKey) {
    if (m_lstUpdateServers.empty()) return false;
    int nRow = ChooseServerRow(m_lstUpdateServers, nLineKey, std::rand());
    if (nRow < 0) return false;
    const UpdateServerRow& row = m_lstUpdateServers[nRow];
    return StartRunThread(row.szHost, static_cast<unsigned short>(row.nPort & 0xFFFF));
}

bool UpdateSession::StartRunThread(const char* pszHost, unsigned short nPort) {
    m_strServerHost = pszHost;
    m_nServerPort = nPort;
    StopRunThread();
    m_bCancel = false;
    AllowTransfers();
    HANDLE hThread = CreateThread(nullptr, 0, &UpdateSession::UpdateRunThreadProc, this, 0, nullptr);
    m_runThread.Reset(hThread);
    m_hRunThread = hThread;
    return true;
}

// Asks a run that is still going to stop and waits for it a few seconds.
// Terminating it is the last resort: a thread killed inside the heap can
// hang everything that follows.
void UpdateSession::StopRunThread() {
    if (m_runThread.IsValid() && m_hRunThread) {
        m_bCancel = true;
        CancelTransfer();
        if (WaitForSingleObject(m_runThread.Get(), kRunStopWaitMs) == WAIT_TIMEOUT)
            TerminateThread(m_runThread.Get(), 0);
    }
    m_runThread.Reset();
    m_hRunThread = nullptr;
}

DWORD WINAPI UpdateSession::UpdateRunThreadProc(LPVOID pParam) {
    UpdateSession* self = static_cast<UpdateSession*>(pParam);
    bool bResult = self->RunUpdate();
    // A run that was called off (the session ends, or a new run replaces it)
    // leaves the result and the window to whoever called it off.
    if (self->m_bCancel) return 0;
    g_bRunResult = bResult ? 1 : 0;
    self->m_hRunThread = nullptr;
    self->m_nTotalProgress = 10000;
    Repaint(TotalBarArea());
    if (HWND hwnd = g_hUpdateWnd) PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
    return 0;
}

void UpdateSession::OnProgress(int nKind, int nValue) {
    if (nKind != FETCH_PROGRESS) return;
    m_nFileProgress = nValue;
    Repaint(FileBarArea());
    int nCount = m_nFileCount;
    if (nCount > 0) {
        m_nTotalProgress = static_cast<int>(m_nFileIndex * 10000LL / nCount + m_nFileProgress / nCount);
        Repaint(TotalBarArea());
    }
    Repaint(CountsArea());
}

void UpdateSession::OnStatus(int nKind, const char* pszText) {
    switch (nKind) {
    case FETCH_BEGIN:
        SetStatus(std::string(TEXT_DOWNLOADING_OPEN) + pszText + ")");
        break;
    case FETCH_END:
        SetStatus(std::string(TEXT_FINISHED_OPEN) + pszText + ")");
        break;
    case STATUS_TEXT:
        SetStatus(pszText);
        break;
    default:
        return;
    }
    Repaint(StatusArea());
}
