// The run's transfer workers; see TransferPool.h.
#include "update/TransferPool.h"

#include <windows.h>

#include <chrono>

namespace {
// How soon a wait notices the run's cancel flag, which nobody signals here.
const auto kCancelPoll = std::chrono::milliseconds(50);
}  // namespace

bool TransferPool::Start(int nSlots) {
    for (int i = 0; i < nSlots; ++i) {
        try {
            m_workers.emplace_back(&TransferPool::Work, this, i);
        } catch (...) {
            OutputDebugStringA("TransferPool: a worker could not start");
            break;
        }
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_nSlots = static_cast<int>(m_workers.size());
    return m_nSlots > 0;
}

bool TransferPool::WaitForSlotLocked(std::unique_lock<std::mutex>& lock) {
    while (!m_changed.wait_for(lock, kCancelPoll, [this] { return m_bCancel.load() || m_nBusy < m_nSlots; })) {
    }
    return !m_bCancel.load();
}

bool TransferPool::WaitForSlot() {
    std::unique_lock<std::mutex> lock(m_lock);
    return WaitForSlotLocked(lock);
}

bool TransferPool::Submit(Job job) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!WaitForSlotLocked(lock)) return false;
    m_jobs.push_back(std::move(job));
    ++m_nBusy;
    m_changed.notify_all();
    return true;
}

void TransferPool::WaitIdle() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] { return m_nBusy == 0; });
}

void TransferPool::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStopping = true;
        m_changed.notify_all();
    }
    for (std::thread& worker : m_workers)
        if (worker.joinable()) worker.join();
    m_workers.clear();
}

void TransferPool::Work(int nSlot) {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_changed.wait(lock, [this] { return m_bStopping || !m_jobs.empty(); });
            if (m_jobs.empty()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        // Nothing may leave a thread: a job that throws has simply ended.
        try {
            job(nSlot);
        } catch (...) {
            OutputDebugStringA("TransferPool: a transfer ended by an exception");
        }
        std::lock_guard<std::mutex> lock(m_lock);
        --m_nBusy;
        m_changed.notify_all();
    }
}
