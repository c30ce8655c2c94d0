// Small helpers of the native (Linux) tests: a command run with its output
// kept, and whole files read.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace nativetest {

struct RunResult {
    int m_nStatus;
    std::string m_strOutput;
};

// Runs a shell command line, its standard error joined to its output.
inline RunResult RunCommand(const std::string& strCommand) {
    RunResult result{-1, std::string()};
    FILE* p = popen((strCommand + " 2>&1").c_str(), "r");
    if (!p) return result;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) result.m_strOutput.append(buf, n);
    int nRaw = pclose(p);
    result.m_nStatus = WIFEXITED(nRaw) ? WEXITSTATUS(nRaw) : -1;
    return result;
}

// A whole file, or "" when it can't be read.
inline std::string Slurp(const std::string& strPath) {
    std::string s;
    FILE* f = fopen(strPath.c_str(), "rb");
    if (!f) return s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

}  // namespace nativetest
