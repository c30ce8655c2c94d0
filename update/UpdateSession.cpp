// The update session: server choice, the run thread's life, and the events
// of the transfer slots that become counters, status and repaint requests.
#include "update/UpdateSession.h"

#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>

#include "framework/SupportLog.h"
#include "net/TransferMath.h"
#include "res/Texts.h"
#include "update/RunLog.h"

std::atomic<unsigned char> g_bRunResult{0};
std::atomic<unsigned char> g_bSelfUpdated{0};
std::vector<FileEntry> g_updateList;
UpdateSession g_updateSession;

// A transfer slot's fetcher: its events go to the session with its number.
class UpdateSession::SlotFetcher : public HttpFetcher {
public:
    SlotFetcher(UpdateSession& session, int nSlot) : m_session(session), m_nSlot(nSlot) {}

    void OnProgress(int nKind, int nValue) override {
        if (nKind == FETCH_PROGRESS) m_session.OnSlotProgress(m_nSlot, nValue);
    }
    void OnStatus(int nKind, const char* pszText) override {
        m_session.OnSlotStatus(m_nSlot, nKind, pszText);
    }
    void OnBlock(DWORD nBytes) override { m_session.OnSlotBlock(m_nSlot, nBytes); }

private:
    UpdateSession& m_session;
    int m_nSlot;
};

namespace {
// The transfer slot whose event the calling thread is reporting (-1: the
// run's own text). Each slot's transfer runs on one thread at a time.
thread_local int t_nStatusSlot = -1;
}  // namespace

UpdateSession::UpdateSession() = default;

UpdateSession::~UpdateSession() {
    StopRun(INFINITE);
    SetListener(nullptr);
}

bool UpdateSession::SetProduct(const char* pszProduct) {
    m_strProduct = pszProduct;
    return true;
}

void UpdateSession::LoadUpdateServers() {
    m_lstUpdateServers.clear();
    std::FILE* pFile = std::fopen("update.ini", "rt");
    if (!pFile) return;
    ReadUpdateServers(pFile, m_lstUpdateServers, &m_nLimitKiB);
    std::fclose(pFile);
}

bool UpdateSession::StartUpdateRun(int nLineKey) {
    int nRow = m_lstUpdateServers.empty() ? -1 : ChooseServerRow(m_lstUpdateServers, nLineKey, std::rand());
    std::vector<UpdateServer> servers;
    for (int i : ServerOrder(m_lstUpdateServers, nLineKey, nRow)) {
        const UpdateServerRow& row = m_lstUpdateServers[i];
        servers.push_back({row.szHost, static_cast<unsigned short>(row.nPort & 0xFFFF), ConnectionsOf(row)});
    }
    // No row chosen: the run fails as if the server can't be reached, so the
    // player sees why and the game hall still gets control back.
    if (nRow < 0) servers.clear();
    StartRun(servers);
    return nRow >= 0;
}

bool UpdateSession::StartRunThread(const char* pszHost, unsigned short nPort, int nConnections) {
    return StartRun({{pszHost, nPort, nConnections}});
}

bool UpdateSession::StartRun(const std::vector<UpdateServer>& servers) {
    // The old run must be gone before its successor's settings are stored.
    StopRun(INFINITE);
    m_bCancel = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_servers = servers;
    }
    m_runThread.Reset(CreateThread(nullptr, 0, &UpdateSession::UpdateRunThreadProc, this, 0, nullptr));
    return m_runThread.IsValid();
}

std::vector<UpdateServer> UpdateSession::RunServers() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_servers;
}

void UpdateSession::CancelRun() {
    if (m_runThread.IsValid()) CancelEverything();
}

void UpdateSession::CancelEverything() {
    if (!m_bCancel.exchange(true)) m_dwCancelTick = timeGetTime();
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& fetcher : m_fetchers) fetcher->CancelTransfer();
    m_cancelled.notify_all();
}

bool UpdateSession::StopRun(DWORD nWaitMs) {
    if (!m_runThread.IsValid()) return true;
    CancelEverything();
    if (nWaitMs != INFINITE) {
        DWORD nSince = timeGetTime() - m_dwCancelTick;
        nWaitMs = nSince < nWaitMs ? nWaitMs - nSince : 0;
    }
    if (WaitForSingleObject(m_runThread.Get(), nWaitMs) != WAIT_OBJECT_0) return false;
    m_runThread.Reset();
    return true;
}

bool UpdateSession::PauseUnlessCancelled(DWORD nMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    return !m_cancelled.wait_for(lock, std::chrono::milliseconds(nMs), [this] { return m_bCancel.load(); });
}

DWORD WINAPI UpdateSession::UpdateRunThreadProc(LPVOID pParam) {
    UpdateSession* self = static_cast<UpdateSession*>(pParam);
    bool bResult = false;
    // Nothing may leave the thread: a run that throws has failed.
    try {
        bResult = self->RunUpdate();
    } catch (...) {
        fw::LogFailure("RunUpdate: ended by an exception");
    }
    uint64_t nBytes;
    {
        std::lock_guard<std::mutex> lock(self->m_lock);
        nBytes = self->m_nLineBytes;
    }
    LogRunEnd(bResult, self->m_bCancel, timeGetTime() - self->m_dwRunStart, nBytes, self->GetStatus());
    // Support may move or delete the file between runs.
    fw::CloseSupportLog();
    // A run that was called off leaves the result and the window to whoever
    // called it off.
    if (!self->m_bCancel) self->EndOfRun(bResult);
    return 0;
}

void UpdateSession::EndOfRun(bool bResult) {
    g_bRunResult = bResult ? 1 : 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_nTotalProgress = 10000;
    }
    Notify(AREA_TOTAL_BAR);
    std::lock_guard<std::mutex> lock(m_listenerLock);
    if (m_pListener) m_pListener->OnRunEnded();
}

void UpdateSession::SetListener(UpdateListener* pListener) {
    std::lock_guard<std::mutex> lock(m_listenerLock);
    m_pListener = pListener;
}

// Held while calling: a window that detaches waits until the call is over.
void UpdateSession::Notify(UpdateArea area) {
    std::lock_guard<std::mutex> lock(m_listenerLock);
    if (m_pListener) m_pListener->OnAreaChanged(area);
}

std::string UpdateSession::GetStatus() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_strStatus;
}

ProgressSnapshot UpdateSession::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_lock);
    ProgressSnapshot snap;
    snap.nFileProgress = m_nFileProgress;
    snap.nTotalProgress = m_nTotalProgress;
    snap.nFileIndex = m_nFileIndex;
    snap.nFileCount = m_nFileCount;
    snap.nSpeed = m_nSpeed;
    if (m_nDisplaySlot < static_cast<int>(m_fetchers.size()))
        snap.nFileSize = m_fetchers[m_nDisplaySlot]->m_nFileSize;
    snap.strStatus = m_strStatus;
    return snap;
}

void UpdateSession::OnStatus(int nKind, const char* pszText) {
    std::string strText;
    switch (nKind) {
    case FETCH_BEGIN:
        strText = std::string(TEXT_DOWNLOADING_OPEN) + pszText + ")";
        break;
    case FETCH_END:
        strText = std::string(TEXT_FINISHED_OPEN) + pszText + ")";
        break;
    case STATUS_TEXT:
        strText = pszText;
        break;
    default:
        return;
    }
    const int nSlot = nKind == STATUS_TEXT ? -1 : t_nStatusSlot;
    {
        // Bar and line change under one lock, so no paint sees them apart.
        std::lock_guard<std::mutex> lock(m_lock);
        if (nSlot >= static_cast<int>(m_slots.size())) return;
        if (nSlot >= 0) {
            if (nKind == FETCH_BEGIN) BeginSlotLocked(nSlot);
            // A transfer's line shows only while the file bar shows that
            // transfer; the others keep theirs for when the bar turns to them.
            m_slots[nSlot].strStatus = strText;
            if (nSlot != m_nDisplaySlot) return;
        }
        m_strStatus = std::move(strText);
    }
    if (nSlot >= 0 && nKind == FETCH_BEGIN) {
        Notify(AREA_FILE_BAR);
        Notify(AREA_COUNTS);
    }
    Notify(AREA_STATUS);
}

void UpdateSession::OnSlotStatus(int nSlot, int nKind, const char* pszText) {
    t_nStatusSlot = nSlot;
    OnStatus(nKind, pszText);
    t_nStatusSlot = -1;
}

// The file bar follows the most recently started transfer that still runs;
// with none running it keeps showing the last one.
int UpdateSession::DisplaySlotLocked() const {
    int nBest = -1;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].bRunning && (nBest < 0 || m_slots[i].nStarted > m_slots[nBest].nStarted))
            nBest = static_cast<int>(i);
    }
    return nBest < 0 ? m_nDisplaySlot : nBest;
}

// The bar turns to the new transfer at once, from its start.
void UpdateSession::BeginSlotLocked(int nSlot) {
    Slot& slot = m_slots[nSlot];
    slot.bRunning = true;
    slot.nStarted = ++m_nStarts;
    slot.nProgress = 0;
    m_nDisplaySlot = nSlot;
    m_nFileProgress = 0;
}

// When the bar turns to another transfer, the status line turns with it.
void UpdateSession::OnSlotEnd(int nSlot) {
    int nShown;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_slots[nSlot].bRunning = false;
        m_nDisplaySlot = DisplaySlotLocked();
        nShown = m_nDisplaySlot;
        m_nFileProgress = m_slots[nShown].nProgress;
        if (nShown != nSlot) m_strStatus = m_slots[nShown].strStatus;
    }
    if (nShown != nSlot) {
        Notify(AREA_FILE_BAR);
        Notify(AREA_COUNTS);
        Notify(AREA_STATUS);
    }
}

void UpdateSession::OnSlotProgress(int nSlot, int nValue) {
    bool bTotal = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_slots[nSlot].nProgress = nValue;
        if (nSlot != m_nDisplaySlot) return;
        m_nFileProgress = nValue;
        if (m_nFileCount > 0) {
            m_nTotalProgress = net::TotalProgress(m_nFileIndex, m_nFileCount, m_nFileProgress);
            bTotal = true;
        }
    }
    Notify(AREA_FILE_BAR);
    if (bTotal) Notify(AREA_TOTAL_BAR);
    Notify(AREA_COUNTS);
}

// The speed is the whole line's: the bytes of every transfer over the same
// windows of 3000 ms.
void UpdateSession::OnSlotBlock(int nSlot, DWORD nBytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (nSlot < static_cast<int>(m_slots.size())) m_slots[nSlot].nMoved += nBytes;
    m_nLineBytes += nBytes;
    DWORD dwNow = timeGetTime();
    if (net::StepDue(dwNow, m_dwSpeedTick, net::kSpeedWindowMs)) {
        m_nSpeed = net::BytesPerSecond(m_nLineBytes - m_nLastSampleBytes, dwNow - m_dwSpeedTick);
        m_nLastSampleBytes = m_nLineBytes;
        m_dwSpeedTick += net::kSpeedWindowMs;
    }
}

uint64_t UpdateSession::TakeSlotBytes(int nSlot) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (nSlot >= static_cast<int>(m_slots.size())) return 0;
    uint64_t nMoved = m_slots[nSlot].nMoved;
    m_slots[nSlot].nMoved = 0;
    return nMoved;
}

void UpdateSession::ProgressStep() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_nFileCount > 0) m_nTotalProgress = static_cast<int>((m_nFileIndex + 1) * 10000LL / m_nFileCount);
        ++m_nFileIndex;
    }
    Notify(AREA_TOTAL_BAR);
}

void UpdateSession::MakeFetchers(int nCount, HINTERNET hInternet, HINTERNET hConnect) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_fetchers.clear();
    m_slots.assign(nCount, Slot());
    m_nDisplaySlot = 0;
    for (int i = 0; i < nCount; ++i) {
        m_fetchers.push_back(std::make_unique<SlotFetcher>(*this, i));
        HttpFetcher& fetcher = *m_fetchers.back();
        fetcher.m_hInternet = hInternet;
        fetcher.m_hConnect = hConnect;
        fetcher.SetStallLimit(m_nStallLimitMs);
        fetcher.SetDiskBudget(&m_diskBudget);
        fetcher.SetBandwidth(&m_bandwidth);
        // A cancel that came before the fetcher existed still reaches it.
        if (m_bCancel) fetcher.CancelTransfer();
    }
}

void UpdateSession::DetachFetchers() {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& fetcher : m_fetchers) {
        fetcher->m_hInternet = nullptr;
        fetcher->m_hConnect = nullptr;
    }
}
