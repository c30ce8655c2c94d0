// The program's global objects, defined in one place so that they are built
// in this order and destroyed in the reverse one.
#include <atomic>
#include <string>
#include <vector>

#include "app/UpdaterApp.h"
#include "update/FileList.h"
#include "update/UpdateSession.h"

UpdaterApp theApp;
std::string g_strStartParam = "Hollo";
UpdateSession g_updateSession;
std::string g_strSkinDir = "UpdateRes\\";
std::vector<FileEntry> g_updateList;
std::string g_strProgramDir;

std::atomic<HWND> g_hUpdateWnd{nullptr};
unsigned char g_bRunResult = 0;
unsigned char g_bSelfUpdated = 0;
