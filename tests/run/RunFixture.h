// An update run against a real server, watched from the test: a recording
// listener holds the session and its settings, a hidden window stands in for
// the update window.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "update/UpdateSession.h"

struct StatusEvent {
    int nKind;  // a StatusKind
    std::string strText;
    int nTotalProgress;     // the total when the event was raised
    int nFileProgress = 0;  // and the file bar
};

// A session started as the window starts it, whose status events are kept.
// The areas and the run's end go on to the listener the test attaches.
class RecordingSession : public UpdateListener {
public:
    RecordingSession();
    virtual ~RecordingSession();

    // What the next run gets; the test fills it in as update.ini would.
    UpdateSettings settings;

    void SetListener(UpdateListener* pListener);
    bool Start() { return m_session.Start(settings); }
    bool StartOn(const std::vector<UpdateServer>& servers);
    bool StartOn(const char* pszHost, unsigned short nPort, int nConnections = DEFAULT_CONNECTIONS);
    void Cancel() { m_session.Cancel(); }
    bool Stop(DWORD nWaitMs) { return m_session.Stop(nWaitMs); }
    ProgressSnapshot Snapshot() const { return m_session.Snapshot(); }
    // The status line as the window words it.
    std::string GetStatus() const;

    std::vector<StatusEvent> Events() const;
    std::vector<std::string> Texts(int nKind) const;

    void OnAreaChanged(UpdateArea area) override;
    void OnRunEnded() override;
    void OnStatusEvent(const RunStatus& status) override;

private:
    mutable std::mutex m_lock;
    std::vector<StatusEvent> m_events;
    UpdateListener* m_pListener = nullptr;
    UpdateSession m_session;  // last: its run ends before anything above goes
};

class RunTest : public ::testing::Test, public UpdateListener {
public:
    void OnAreaChanged(UpdateArea) override {}
    // The window's part: the run's end closes it with OK.
    void OnRunEnded() override { PostMessageA(m_hWnd, WM_COMMAND, IDOK, 0); }

protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a run of the test's product and waits for its closing post.
    bool RunAgainst(RecordingSession& session, unsigned short nPort, DWORD nTimeoutMs = 60000,
                    int nConnections = DEFAULT_CONNECTIONS);
    // Waits for the closing post of a run already started.
    bool WaitForRunEnd(DWORD nTimeoutMs);
    // Every file and folder below the program folder but the test program.
    void CleanProgramFolder();

    std::string m_strProduct;   // one product per test, so releases never mix
    std::string m_strProgramDir;
    HWND m_hWnd = nullptr;
    DWORD m_nClosedAfterMs = 0;  // from the run's start to its closing post
};
