// One line of progress on a terminal ("files 12/40, 3.1/9.8 MB"), redrawn at
// most ten times a second; silent when the output is not a terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>

class ProgressLine {
public:
    explicit ProgressLine(FILE* out);
    ~ProgressLine() { Finish(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Safe from several threads; nBytesTotal 0 when not known.
    void Show(const char* pszWhat, unsigned long long nFiles, unsigned long long nFilesTotal,
              unsigned long long nBytes, unsigned long long nBytesTotal);
    // Ends the line, so that what follows starts on a fresh one.
    void Finish();

private:
    FILE* m_out;
    bool m_bTerminal;
    bool m_bShown = false;
    std::chrono::steady_clock::time_point m_last;
    std::mutex m_lock;
};
