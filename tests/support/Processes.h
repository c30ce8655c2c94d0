// Test helpers for real processes, folders and files under Wine.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/Handles.h"

namespace testing_support {

// A Linux folder named by an environment variable, as Wine sees it ("Z:\...\").
std::string WinePathFromEnv(const char* pszVar);
// Folder of the built program (selfrenew.exe), as a Windows path with a final "\".
std::string ProgramBinDir();
// Folder of the test programs (GameHollo.exe and the tests), with a final "\".
std::string TestBinDir();
// A new empty folder (absolute path, final "\") under the current folder.
std::string FreshDir(const std::string& strName);
void RemoveTree(const std::string& strDir);
// Names in a folder (final "\\"), without "." and "..".
std::vector<std::string> ListFolder(const std::string& strDir);

bool WaitUntil(const std::function<bool()>& done, DWORD nTimeoutMs);
std::string ReadWholeFile(const std::string& strPath);
bool WriteWholeFile(const std::string& strPath, const std::string& strBytes);

// A started process; the destructor ends it if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::string& strCommandLine, const std::string& strFolder);
    bool WaitExit(DWORD nTimeoutMs);
    bool IsRunning() const;
    DWORD Pid() const { return m_nPid; }
    HANDLE Handle() const { return m_process.Get(); }

private:
    fw::UniqueHandle m_process;
    DWORD m_nPid = 0;
};

// Top-level window with the exact caption, or null.
HWND FindWindowByCaption(const std::string& strCaption);

}  // namespace testing_support
