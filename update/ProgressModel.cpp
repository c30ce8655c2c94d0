// The run's progress as the window shows it; see ProgressModel.h.
#include "update/ProgressModel.h"

#include <mmsystem.h>

#include "net/TransferMath.h"

// A transfer slot's events, told to the model with the slot's number.
class ProgressModel::SlotSink : public net::TransferEvents {
public:
    SlotSink(ProgressModel& model, int nSlot) : m_model(model), m_nSlot(nSlot) {}
    void OnBegin(const std::string& strLocal) override { m_model.SlotBegan(m_nSlot, strLocal); }
    void OnEnd(const std::string& strLocal) override { m_model.SlotFinished(m_nSlot, strLocal); }
    void OnSize(uint64_t nBytes) override { m_model.SlotSize(m_nSlot, nBytes); }
    void OnMoved(DWORD nBytes) override { m_model.SlotMoved(nBytes); }
    void OnProgress(int nShare) override { m_model.SlotProgress(m_nSlot, nShare); }

private:
    ProgressModel& m_model;
    int m_nSlot;
};

ProgressModel::ProgressModel() = default;
ProgressModel::~ProgressModel() = default;

void ProgressModel::SetListener(UpdateListener* pListener) {
    std::lock_guard<std::mutex> lock(m_listenerLock);
    m_pListener = pListener;
}

void ProgressModel::Notify(UpdateArea area) {
    std::lock_guard<std::mutex> lock(m_listenerLock);
    if (m_pListener) m_pListener->OnAreaChanged(area);
}

void ProgressModel::Tell(const RunStatus& status) {
    std::lock_guard<std::mutex> lock(m_listenerLock);
    if (m_pListener) m_pListener->OnStatusEvent(status);
}

void ProgressModel::RunEnded() {
    std::lock_guard<std::mutex> lock(m_listenerLock);
    if (m_pListener) m_pListener->OnRunEnded();
}

void ProgressModel::StartRun() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_nTotalProgress = 0;
        m_nFileCount = 0;
        m_nFileIndex = 0;
        m_nLineBytes = m_nLastSampleBytes = 0;
        m_nSpeed = 0;
        m_dwSpeedTick = timeGetTime();
        m_strLastMessage.clear();
    }
    Notify(AREA_TOTAL_BAR);
}

void ProgressModel::SetSlots(int nSlots) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_slots.assign(nSlots, Slot());
    m_nDisplaySlot = 0;
    // Sinks are only added: a fetcher of an earlier phase may still point at one.
    while (static_cast<int>(m_sinks.size()) < nSlots)
        m_sinks.push_back(std::make_unique<SlotSink>(*this, static_cast<int>(m_sinks.size())));
}

net::TransferEvents& ProgressModel::SlotEvents(int nSlot) {
    std::lock_guard<std::mutex> lock(m_lock);
    return *m_sinks[nSlot];
}

void ProgressModel::SetMessage(const char* pszText) {
    RunStatus status{STATUS_MESSAGE, pszText};
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_status = status;
        m_strLastMessage = pszText;
    }
    Notify(AREA_STATUS);
    Tell(status);
}

std::string ProgressModel::LastMessage() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_strLastMessage;
}

// The bar turns to the new transfer at once, from its start; bar and line
// change under one lock, so no paint sees them apart.
void ProgressModel::SlotBegan(int nSlot, const std::string& strLocal) {
    RunStatus status{STATUS_DOWNLOADING, strLocal};
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (nSlot >= static_cast<int>(m_slots.size())) return;
        Slot& slot = m_slots[nSlot];
        slot.bRunning = true;
        slot.nStarted = ++m_nStarts;
        slot.nProgress = 0;
        slot.nSize = 0;
        slot.status = status;
        m_nDisplaySlot = nSlot;
        m_nFileProgress = 0;
        m_status = status;
    }
    Notify(AREA_FILE_BAR);
    Notify(AREA_COUNTS);
    Notify(AREA_STATUS);
    Tell(status);
}

// A transfer's line shows only while the file bar shows that transfer; the
// others keep theirs for when the bar turns to them.
void ProgressModel::SlotFinished(int nSlot, const std::string& strLocal) {
    RunStatus status{STATUS_FINISHED, strLocal};
    bool bShown;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (nSlot >= static_cast<int>(m_slots.size())) return;
        m_slots[nSlot].status = status;
        bShown = nSlot == m_nDisplaySlot;
        if (bShown) m_status = status;
    }
    if (bShown) Notify(AREA_STATUS);
    Tell(status);
}

void ProgressModel::SlotSize(int nSlot, uint64_t nBytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (nSlot < static_cast<int>(m_slots.size())) m_slots[nSlot].nSize = nBytes;
}

// The file bar follows the most recently started transfer that still runs;
// with none running it keeps showing the last one.
int ProgressModel::DisplaySlotLocked() const {
    int nBest = -1;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].bRunning && (nBest < 0 || m_slots[i].nStarted > m_slots[nBest].nStarted))
            nBest = static_cast<int>(i);
    }
    return nBest < 0 ? m_nDisplaySlot : nBest;
}

void ProgressModel::SlotEnded(int nSlot) {
    int nShown;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (nSlot >= static_cast<int>(m_slots.size())) return;
        m_slots[nSlot].bRunning = false;
        m_nDisplaySlot = DisplaySlotLocked();
        nShown = m_nDisplaySlot;
        m_nFileProgress = m_slots[nShown].nProgress;
        if (nShown != nSlot) m_status = m_slots[nShown].status;
    }
    if (nShown != nSlot) {
        Notify(AREA_FILE_BAR);
        Notify(AREA_COUNTS);
        Notify(AREA_STATUS);
    }
}

void ProgressModel::SlotProgress(int nSlot, int nValue) {
    bool bTotal = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (nSlot >= static_cast<int>(m_slots.size())) return;
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
void ProgressModel::SlotMoved(DWORD nBytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_nLineBytes += nBytes;
    DWORD dwNow = timeGetTime();
    if (net::StepDue(dwNow, m_dwSpeedTick, net::kSpeedWindowMs)) {
        m_nSpeed = net::BytesPerSecond(m_nLineBytes - m_nLastSampleBytes, dwNow - m_dwSpeedTick);
        m_nLastSampleBytes = m_nLineBytes;
        m_dwSpeedTick += net::kSpeedWindowMs;
    }
}

void ProgressModel::SetFileCount(int nCount) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_nFileCount = nCount;
    m_nFileIndex = 0;
}

void ProgressModel::EntryDone() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_nFileCount > 0) m_nTotalProgress = static_cast<int>((m_nFileIndex + 1) * 10000LL / m_nFileCount);
        ++m_nFileIndex;
    }
    Notify(AREA_TOTAL_BAR);
}

void ProgressModel::FillTotal() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_nTotalProgress = 10000;
    }
    Notify(AREA_TOTAL_BAR);
}

uint64_t ProgressModel::LineBytes() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nLineBytes;
}

ProgressSnapshot ProgressModel::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_lock);
    ProgressSnapshot snap;
    snap.nFileProgress = m_nFileProgress;
    snap.nTotalProgress = m_nTotalProgress;
    snap.nFileIndex = m_nFileIndex;
    snap.nFileCount = m_nFileCount;
    snap.nSpeed = m_nSpeed;
    if (m_nDisplaySlot < static_cast<int>(m_slots.size())) snap.nFileSize = m_slots[m_nDisplaySlot].nSize;
    snap.status = m_status;
    return snap;
}
