// The Windows entry point: runs the application's start routine, nothing more.
#include <windows.h>

#include "framework/WinApp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (!app) return 1;
    app->m_hInstance = hInstance;
    app->InitInstance();
    // The program sets no exit code of its own.
    return 0;
}
