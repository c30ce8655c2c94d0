// Real processes, folders and files for the tests.
#include "Processes.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace testing_support {

std::string WinePathFromEnv(const char* pszVar) {
    const char* p = std::getenv(pszVar);
    if (!p || !*p) return std::string();
    std::string s = std::string("Z:") + p;
    for (char& c : s)
        if (c == '/') c = '\\';
    if (s.back() != '\\') s += '\\';
    return s;
}

std::string ProgramBinDir() { return WinePathFromEnv("SELFRENEW_BIN"); }

std::string TestBinDir() {
    char sz[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, sz, MAX_PATH - 1);
    std::string s = sz;
    return s.substr(0, s.rfind('\\') + 1);
}

void RemoveTree(const std::string& strDir) {
    std::string dir = strDir;
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

std::vector<std::string> ListFolder(const std::string& strDir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((strDir + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (lstrcmpA(fd.cFileName, ".") != 0 && lstrcmpA(fd.cFileName, "..") != 0) names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

std::string FreshDir(const std::string& strName) {
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string dir = std::string(cwd) + "\\" + strName;
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\";
}

bool WaitUntil(const std::function<bool()>& done, DWORD nTimeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= nTimeoutMs) return false;
        Sleep(20);
    }
}

std::string ReadWholeFile(const std::string& strPath) {
    std::string out;
    FILE* f = std::fopen(strPath.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

bool WriteWholeFile(const std::string& strPath, const std::string& strBytes) {
    FILE* f = std::fopen(strPath.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(strBytes.data(), 1, strBytes.size(), f) == strBytes.size();
    return std::fclose(f) == 0 && ok;
}

ChildProcess::~ChildProcess() {
    if (IsRunning()) {
        TerminateProcess(m_process.Get(), 1);
        WaitForSingleObject(m_process.Get(), 5000);
    }
}

bool ChildProcess::Start(const std::string& strCommandLine, const std::string& strFolder) {
    std::vector<char> cmd(strCommandLine.begin(), strCommandLine.end());
    cmd.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        strFolder.empty() ? nullptr : strFolder.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    m_process.Reset(pi.hProcess);
    m_nPid = pi.dwProcessId;
    return true;
}

bool ChildProcess::WaitExit(DWORD nTimeoutMs) {
    return m_process.IsValid() && WaitForSingleObject(m_process.Get(), nTimeoutMs) == WAIT_OBJECT_0;
}

bool ChildProcess::IsRunning() const {
    return m_process.IsValid() && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT;
}

HWND FindWindowByCaption(const std::string& strCaption) { return FindWindowA(nullptr, strCaption.c_str()); }

}  // namespace testing_support
