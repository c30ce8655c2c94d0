// The program's update session: the run thread and the run it carries out,
// and the progress model the window paints. Start a run with its settings;
// cancel it, or stop it within a time; read a snapshot at any moment.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>

#include "framework/Handles.h"
#include "update/ProgressModel.h"
#include "update/RunResult.h"
#include "update/UpdateListener.h"
#include "update/UpdateRun.h"
#include "update/UpdateSettings.h"

class UpdateSession {
public:
    UpdateSession() = default;
    ~UpdateSession();  // stops and joins a run that still goes on
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    // The window that is told what changed; nullptr detaches (waiting until
    // a call in progress is over).
    void SetListener(UpdateListener* pListener) { m_progress.SetListener(pListener); }
    // Stops the run before, then starts one with these settings on a thread
    // of its own. False when the thread could not start.
    bool Start(const UpdateSettings& settings);
    // Calls the run off without waiting; safe from any thread.
    void Cancel();
    // Calls the run off and waits for its thread until nWaitMs after the run
    // was first called off. False when a transfer the platform can't wake
    // still holds it.
    bool Stop(DWORD nWaitMs);
    ProgressSnapshot Snapshot() const { return m_progress.Snapshot(); }

private:
    static DWORD WINAPI RunThreadProc(LPVOID pParam);

    ProgressModel m_progress;
    mutable std::mutex m_lock;  // guards the run pointer
    std::unique_ptr<UpdateRun> m_pRun;
    fw::UniqueHandle m_thread;  // touched by the starting thread only
};

// The program's one update session.
extern UpdateSession g_updateSession;
