// The run fixture: a private program folder, a hidden stand-in window.
#include "run/RunFixture.h"

#include "support/Processes.h"
#include "ui/ProgressText.h"

using namespace testing_support;

RecordingSession::RecordingSession() { m_session.SetListener(this); }

RecordingSession::~RecordingSession() {
    m_session.Stop(INFINITE);
    m_session.SetListener(nullptr);
}

void RecordingSession::SetListener(UpdateListener* pListener) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pListener = pListener;
}

bool RecordingSession::StartOn(const std::vector<UpdateServer>& servers) {
    settings.servers = servers;
    return Start();
}

bool RecordingSession::StartOn(const char* pszHost, unsigned short nPort, int nConnections) {
    UpdateServer server;
    server.strHost = pszHost;
    server.nPort = nPort;
    server.nConnections = nConnections;
    return StartOn({server});
}

std::string RecordingSession::GetStatus() const { return StatusLineText(Snapshot().status); }

void RecordingSession::OnAreaChanged(UpdateArea area) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pListener) m_pListener->OnAreaChanged(area);
}

void RecordingSession::OnRunEnded() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pListener) m_pListener->OnRunEnded();
}

// Recorded as the event left the model (a status event moves no total).
void RecordingSession::OnStatusEvent(const RunStatus& status) {
    ProgressSnapshot snap = Snapshot();
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back({status.kind, status.strText, snap.nTotalProgress, snap.nFileProgress});
}

std::vector<StatusEvent> RecordingSession::Events() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
}

std::vector<std::string> RecordingSession::Texts(int nKind) const {
    std::vector<std::string> out;
    for (const StatusEvent& e : Events())
        if (e.nKind == nKind) out.push_back(e.strText);
    return out;
}

void RunTest::SetUp() {
    m_strProduct = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    m_strProgramDir = TestBinDir();
    CleanProgramFolder();
    SetCurrentDirectoryA(m_strProgramDir.c_str());
    g_updateList.clear();
    g_bRunResult = 0;
    g_bSelfUpdated = 0;
    m_hWnd = CreateWindowA("STATIC", "run window", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

void RunTest::TearDown() {
    if (m_hWnd) DestroyWindow(m_hWnd);
    g_updateList.clear();
}

void RunTest::CleanProgramFolder() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string selfName = self + std::string(self).rfind('\\') + 1;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((m_strProgramDir + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == ".." || lstrcmpiA(name.c_str(), selfName.c_str()) == 0) continue;
        std::string path = m_strProgramDir + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else
            DeleteFileA(path.c_str());
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

bool RunTest::RunAgainst(RecordingSession& session, unsigned short nPort, DWORD nTimeoutMs, int nConnections) {
    session.settings.strProduct = m_strProduct;
    session.SetListener(this);
    session.StartOn("127.0.0.1", nPort, nConnections);
    return WaitForRunEnd(nTimeoutMs);
}

bool RunTest::WaitForRunEnd(DWORD nTimeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= nTimeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, nTimeoutMs - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == m_hWnd && msg.message == WM_COMMAND && LOWORD(msg.wParam) == IDOK) {
                m_nClosedAfterMs = GetTickCount() - start;
                return true;
            }
            DispatchMessageA(&msg);
        }
    }
}
