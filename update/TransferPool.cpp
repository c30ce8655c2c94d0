// The run's transfer workers; see TransferPool.h.
#include "update/TransferPool.h"

#include <windows.h>

#include "framework/SupportLog.h"

// A cancel wakes every wait of the pool at once.
TransferPool::TransferPool(fw::CancelToken& cancel)
    : m_cancel(cancel), m_hook(cancel, [this] {
          std::lock_guard<std::mutex> lock(m_lock);
          m_changed.notify_all();
      }) {}

bool TransferPool::Start(int nSlots) {
    for (int i = 0; i < nSlots; ++i) {
        try {
            m_workers.emplace_back(&TransferPool::Work, this, i);
        } catch (...) {
            fw::LogFailure("TransferPool: a worker could not start");
            break;
        }
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_nSlots = static_cast<int>(m_workers.size());
    return m_nSlots > 0;
}

bool TransferPool::WaitForSlotLocked(std::unique_lock<std::mutex>& lock) {
    m_changed.wait(lock, [this] { return m_cancel.IsCancelled() || m_nBusy < m_nSlots; });
    return !m_cancel.IsCancelled();
}

bool TransferPool::WaitForSlot() {
    std::unique_lock<std::mutex> lock(m_lock);
    return WaitForSlotLocked(lock);
}

bool TransferPool::Submit(const std::string& strKey, Job job) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!WaitForSlotLocked(lock)) return false;
    m_jobs.push_back({strKey, std::move(job)});
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

std::deque<TransferPool::Queued>::iterator TransferPool::FirstRunnableLocked() {
    for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it)
        if (it->strKey.empty() || m_running.count(it->strKey) == 0) return it;
    return m_jobs.end();
}

void TransferPool::Work(int nSlot) {
    for (;;) {
        Queued item;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            // Stopping ends a worker only once nothing is queued: a job held
            // back by its key still runs after the one it waits for.
            m_changed.wait(lock, [this] {
                return (m_bStopping && m_jobs.empty()) || FirstRunnableLocked() != m_jobs.end();
            });
            auto it = FirstRunnableLocked();
            if (it == m_jobs.end()) return;
            item = std::move(*it);
            m_jobs.erase(it);
            // Out of memory for the key's note: the job runs unkeyed rather
            // than the exception ending the thread with the busy count up.
            try {
                if (!item.strKey.empty()) m_running.insert(item.strKey);
            } catch (...) {
                item.strKey.clear();
            }
        }
        // Nothing may leave a thread: a job that throws has simply ended.
        try {
            item.job(nSlot);
        } catch (...) {
            fw::LogFailure("TransferPool: a transfer ended by an exception");
        }
        std::lock_guard<std::mutex> lock(m_lock);
        if (!item.strKey.empty()) m_running.erase(item.strKey);
        --m_nBusy;
        m_changed.notify_all();
    }
}
