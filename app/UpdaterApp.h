// The application object: its start routine carries the program's whole life.
#pragma once

#include <string>

#include "framework/WinApp.h"

class UpdaterApp : public CWinApp {
public:
    BOOL InitInstance() override;
};

extern UpdaterApp theApp;
extern std::string g_strStartParam;
