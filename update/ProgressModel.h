// What the window shows of a run: the transfer slots, the one the file bar
// follows, both bars, the counts, the line's speed and the status. Its lock
// guards its numbers alone; the listener is told outside it, under a lock of
// its own, so that a window that detaches waits until a call is over.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/TransferEvents.h"
#include "update/UpdateListener.h"

class ProgressModel {
public:
    ProgressModel();
    ~ProgressModel();
    ProgressModel(const ProgressModel&) = delete;
    ProgressModel& operator=(const ProgressModel&) = delete;

    void SetListener(UpdateListener* pListener);

    // A run starts: the total bar empties, counts and speed start over.
    void StartRun();
    // The run's transfer slots; the events of slot i reach the model through
    // SlotEvents(i). Not while a transfer of the earlier slots goes on.
    void SetSlots(int nSlots);
    net::TransferEvents& SlotEvents(int nSlot);
    // A slot's transfer is over, however it ended: the file bar turns to
    // another running one, and the status line with it.
    void SlotEnded(int nSlot);

    // The run's own status line (a text of res/Texts.h).
    void SetMessage(const char* pszText);
    // The last message set, for the log's end line.
    std::string LastMessage() const;
    void SetFileCount(int nCount);
    // One entry of the work list is done (fetched, kept, made or failed).
    void EntryDone();
    // The run has ended: the total bar is full.
    void FillTotal();
    // An area changed outside the numbers (the end-of-run areas).
    void Notify(UpdateArea area);
    void RunEnded();

    // Bytes the whole run moved over the line.
    uint64_t LineBytes() const;
    ProgressSnapshot Snapshot() const;

private:
    class SlotSink;
    struct Slot {
        bool bRunning = false;
        unsigned long long nStarted = 0;  // order of the transfers' starts
        int nProgress = 0;
        uint64_t nSize = 0;
        RunStatus status;  // the status line this slot's transfer last set
    };

    void SlotBegan(int nSlot, const std::string& strLocal);
    void SlotFinished(int nSlot, const std::string& strLocal);
    void SlotSize(int nSlot, uint64_t nBytes);
    void SlotProgress(int nSlot, int nValue);
    void SlotMoved(DWORD nBytes);
    int DisplaySlotLocked() const;
    void Tell(const RunStatus& status);

    mutable std::mutex m_lock;  // guards the numbers below
    std::vector<Slot> m_slots;
    std::vector<std::unique_ptr<SlotSink>> m_sinks;
    unsigned long long m_nStarts = 0;
    int m_nDisplaySlot = 0;
    int m_nFileProgress = 10000;
    int m_nTotalProgress = 10000;
    int m_nFileCount = 0;
    int m_nFileIndex = 0;
    RunStatus m_status;
    std::string m_strLastMessage;
    uint64_t m_nLineBytes = 0;
    uint64_t m_nLastSampleBytes = 0;
    DWORD m_dwSpeedTick = 0;
    uint64_t m_nSpeed = 0;

    std::mutex m_listenerLock;  // held while the listener is told
    UpdateListener* m_pListener = nullptr;
};
