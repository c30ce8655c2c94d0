// Worker threads that live as long as a run and take its transfers one at a
// time each, in the order they are handed in. A slot is a worker; a job learns
// which slot runs it, so that it uses that slot's fetcher and connection.
// Jobs under one key (a local file, however the list spells it) never run at
// once: a later one waits until the earlier has ended, so two transfers never
// share a file.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/CancelToken.h"

class TransferPool {
public:
    using Job = std::function<void(int nSlot)>;

    // The run's cancel ends every wait of the pool.
    explicit TransferPool(fw::CancelToken& cancel);
    ~TransferPool() { Stop(); }
    TransferPool(const TransferPool&) = delete;
    TransferPool& operator=(const TransferPool&) = delete;

    // Starts nSlots workers; false when not one could start.
    bool Start(int nSlots);
    // Waits until a slot is free; false when the run was cancelled first.
    bool WaitForSlot();
    // Waits for a free slot and hands the job to it; false when cancelled.
    // An empty key shares nothing with any other job.
    bool Submit(const std::string& strKey, Job job);
    // Waits until every job handed in has ended (also after a cancel).
    void WaitIdle();
    // Lets the workers end once their jobs are done and joins them.
    void Stop();

private:
    struct Queued {
        std::string strKey;
        Job job;
    };

    void Work(int nSlot);
    bool WaitForSlotLocked(std::unique_lock<std::mutex>& lock);
    // The first queued job whose key no running job holds.
    std::deque<Queued>::iterator FirstRunnableLocked();

    fw::CancelToken& m_cancel;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Queued> m_jobs;
    std::set<std::string> m_running;  // keys of the jobs running now
    int m_nSlots = 0;
    int m_nBusy = 0;  // jobs queued or running
    bool m_bStopping = false;
    std::vector<std::thread> m_workers;
    fw::CancelHook m_hook;  // last: it goes first
};
