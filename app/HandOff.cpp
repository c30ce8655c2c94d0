// Process hand-off: stop the old working copy, start the new one, hand back.
#include "app/HandOff.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>

#include "app/StartParam.h"
#include "framework/Handles.h"
#include "update/RunResult.h"

const char kGameHallClass[] = "QelvoGameHollo";
const char kGameHallCommand[] = "GameHollo.exe run";

namespace {

// An ended process may hold its file a moment longer; the copy that follows needs it free.
const DWORD kTerminateWaitMs = 5000;

bool ImageNameOf(DWORD nPid, char* pszName, DWORD nCap) {
    fw::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, nPid));
    if (!process.IsValid()) return false;
    HMODULE hModule = nullptr;
    DWORD cbNeeded = 0;
    if (!EnumProcessModules(process.Get(), &hModule, sizeof(hModule), &cbNeeded)) return false;
    return GetModuleFileNameExA(process.Get(), hModule, pszName, nCap) != 0;
}

// Ends one process; false (with the error code printed) means stop.
bool EndProcess(DWORD nPid) {
    fw::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, nPid));
    if (!process.IsValid()) {
        std::printf("\nOpen Process fAiled:%d\n", static_cast<int>(GetLastError()));
        std::fflush(stdout);
        return false;
    }
    if (!TerminateProcess(process.Get(), 0)) {
        std::printf("%d", static_cast<int>(GetLastError()));
        std::fflush(stdout);
        return false;
    }
    WaitForSingleObject(process.Get(), kTerminateWaitMs);
    return true;
}

}  // namespace

bool StopRunningCopy(const std::string& strWorkingCopyPath) {
    DWORD pids[1024] = {};
    DWORD cbReturned = 0;
    if (!EnumProcesses(pids, sizeof(pids), &cbReturned)) return true;
    DWORD nCount = cbReturned / sizeof(DWORD);
    // Kept between processes: a name that can't be read leaves the last one.
    char szImage[MAX_PATH] = "<unknown>";
    for (DWORD i = 0; i < nCount; ++i) {
        if (pids[i] == 0) continue;
        bool bRead = ImageNameOf(pids[i], szImage, sizeof(szImage));
        if (!bRead || std::strcmp(strWorkingCopyPath.c_str(), szImage) != 0) continue;
        return EndProcess(pids[i]);
    }
    return true;
}

std::string WorkingCopyCommandLine(const std::string& strWorkingCopyPath, const std::string& strStartParam) {
    return "\"" + strWorkingCopyPath + "\" " + strStartParam;
}

void StartWorkingCopy(const std::string& strModulePath, const std::string& strWorkingCopyPath,
                      const std::string& strStartParam) {
    if (!CopyFileA(strModulePath.c_str(), strWorkingCopyPath.c_str(), FALSE)) return;
    WinExec(WorkingCopyCommandLine(strWorkingCopyPath, strStartParam).c_str(), SW_SHOWNORMAL);
}

void HandBackAfterUpdate(const std::string& strWorkingCopyPath, const std::string& strStartParam,
                         int nGameId, int nPassValue) {
    if (g_bSelfUpdated) {
        WinExec(WorkingCopyCommandLine(strWorkingCopyPath, strStartParam).c_str(), SW_SHOWNORMAL);
        return;
    }
    if (strStartParam == kHallParam) {
        WinExec(kGameHallCommand, SW_SHOWNORMAL);
        return;
    }
    if (!g_bRunResult) return;
    HWND hHall = FindWindowA(kGameHallClass, nullptr);
    if (hHall) {
        PostMessageA(hHall, WM_GAME_UPDATED, GAME_UPDATED_WPARAM,
                     static_cast<LPARAM>(GameUpdatedLParam(nGameId, nPassValue)));
    }
}
