// The application object and the framework's socket start-up.
#pragma once

#include <windows.h>

class CDialog;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The start routine. The framework runs no message loop after it.
    virtual BOOL InitInstance();

    HINSTANCE m_hInstance = nullptr;
    CDialog* m_pMainWnd = nullptr;
};

// The one application object, or null before it is constructed.
CWinApp* AfxGetApp();

// Windows Sockets 1.1 for the framework; FALSE unless 1.1 is granted.
BOOL AfxSocketInit();
