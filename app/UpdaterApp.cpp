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
#include "res/Texts.h"
#include "res/resource.h"
#include "res/version.h"
#include "ui/UpdateDialog.h"

namespace {

// The folder up to and including the last "\" (a trail byte never counts).
std::string FolderOf(const char* pszPath) {
    const char* pLast = nullptr;
    for (const char* p = pszPath; *p; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
            ++p;
            continue;
        }
        if (*p == '\\') pLast = p;
    }
    return pLast ? std::string(pszPath, pLast + 1) : std::string();
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
    INT_PTR nResult = dialog.DoModal();
    if (nResult == IDOK)
        HandBackAfterUpdate(strWorkingCopy, g_strStartParam, title.nGameId, title.nPassValue);
    theApp.m_pMainWnd = nullptr;
}

}  // namespace

BOOL UpdaterApp::InitInstance() {
    OutputDebugStringA("selfrenew " SELFRENEW_VERSION_TEXT "\n");
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
