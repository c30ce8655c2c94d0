// The application object and the program entry that runs its start routine.
#include "framework/WinApp.h"

#include <winsock2.h>

#include <cstdlib>

namespace {
CWinApp* g_pApp = nullptr;
bool g_bSocketsStarted = false;

void CleanupSockets() {
    if (g_bSocketsStarted) WSACleanup();
}
}  // namespace

CWinApp::CWinApp() { g_pApp = this; }

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

CWinApp* AfxGetApp() { return g_pApp; }

BOOL AfxSocketInit() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return FALSE;
    if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
        WSACleanup();
        return FALSE;
    }
    if (!g_bSocketsStarted) {
        g_bSocketsStarted = true;
        std::atexit(CleanupSockets);
    } else {
        WSACleanup();  // one start-up is kept for the whole process
    }
    return TRUE;
}
