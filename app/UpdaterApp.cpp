// The start routine: from the command line to the end of the program.
#include "app/UpdaterApp.h"

#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>
#include <winsock2.h>

#include <cstdlib>
#include <cstring>

#include "app/HandOff.h"
#include "app/StartParam.h"
#include "framework/Mbcs.h"
#include "framework/SupportLog.h"
#include "res/Texts.h"
#include "res/resource.h"
#include "res/version.h"
#include "ui/UpdateDialog.h"
#include "update/UpdateSession.h"

UpdaterApp theApp;
std::string g_strStartParam = kHallParam;

namespace {

// How long the end of the program waits for a run the window left behind.
// A transfer that the platform can't wake (Wine's WinINet in a read) is left
// to the end of the process instead.
const DWORD kRunStopWaitMs = 1500;

// The folder up to and including the last "\" (a trail byte never counts).
std::string FolderOf(const char* pszPath) {
    size_t nLast = fw::FindLastChar(pszPath, std::strlen(pszPath), '\\');
    return nLast == static_cast<size_t>(-1) ? std::string() : std::string(pszPath, nLast + 1);
}

void ShowSocketsFailed(const char* pszModulePath) {
    std::string caption = FileNamePart(pszModulePath);
    size_t dot = caption.rfind('.');
    if (dot != std::string::npos) caption.resize(dot);
    char text[256] = {};
    if (!LoadStringA(GetModuleHandleA(nullptr), IDS_SOCKETS_FAILED, text, sizeof(text)))
        lstrcpynA(text, TEXT_SOCKETS_FAILED, sizeof(text));
    MessageBoxA(nullptr, text, caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void RunWorkingRole(const InstanceTitle& title, const std::string& strWorkingCopy) {
    UpdateDialog dialog;
    theApp.m_pMainWnd = &dialog;
    dialog.m_strTitle = title.strTitle;
    dialog.m_strStartParam = g_strStartParam;
    INT_PTR nResult = dialog.DoModal();
    theApp.m_pMainWnd = nullptr;
    // The run ends before the hand-off, so the game hall never starts on
    // files still being written, and before the globals it uses are destroyed.
    bool bStopped = g_updateSession.Stop(kRunStopWaitMs);
    if (nResult == IDOK)
        HandBackAfterUpdate(strWorkingCopy, g_strStartParam, title.nGameId, title.nPassValue);
    // A transfer still inside the platform must not meet the destruction of
    // the objects it uses: end the process here, every file already whole.
    if (!bStopped) {
        fw::LogLine("selfrenew: a transfer did not end in time; ending the process");
        ExitProcess(0);
    }
}

}  // namespace

BOOL UpdaterApp::InitInstance() {
    fw::LogLine("selfrenew " SELFRENEW_VERSION_TEXT "\n");
    char szModule[520] = {};
    GetModuleFileNameA(nullptr, szModule, 519);
    SetCurrentDirectoryA(FolderOf(szModule).c_str());

    g_strStartParam = ChooseStartParam(__argc, __argv);
    InstanceTitle title = BuildInstanceTitle(g_strStartParam);

    if (HWND hRunning = FindWindowA(nullptr, title.strTitle.c_str())) {
        SetForegroundWindow(hRunning);
        return FALSE;
    }

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    CWinApp::InitInstance();
    if (!AfxSocketInit()) {
        ShowSocketsFailed(szModule);
        return FALSE;
    }
    std::srand(timeGetTime());
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return FALSE;

    char szPath[1024] = {};
    GetModuleFileNameA(nullptr, szPath, sizeof(szPath) - 1);
    std::string strWorkingCopy = WorkingCopyPath(szPath);

    if (!IsWorkingRole(szPath)) {
        if (StopRunningCopy(strWorkingCopy))
            StartWorkingCopy(szPath, strWorkingCopy, g_strStartParam);
        return FALSE;
    }
    RunWorkingRole(title, strWorkingCopy);
    return FALSE;
}
