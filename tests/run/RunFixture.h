// An update run against a real server, watched from the test: the session
// records every status event, a hidden window stands in for the update window.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "update/UpdateSession.h"

struct StatusEvent {
    int nKind;
    std::string strText;
    int nTotalProgress;  // the total when the event was raised
    int nFileProgress = 0;  // and the file bar
};

class RecordingSession : public UpdateSession {
public:
    void OnStatus(int nKind, const char* pszText) override;
    std::vector<StatusEvent> Events() const;
    std::vector<std::string> Texts(int nKind) const;

private:
    mutable std::mutex m_lock;
    std::vector<StatusEvent> m_events;
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
