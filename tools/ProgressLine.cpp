// The terminal progress line of the publisher's long runs.
#include "tools/ProgressLine.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool IsTerminal(FILE* f) {
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

double Mb(unsigned long long n) { return static_cast<double>(n) / (1024.0 * 1024.0); }

}  // namespace

ProgressLine::ProgressLine(FILE* out) : m_out(out), m_bTerminal(IsTerminal(out)) {}

void ProgressLine::Show(const char* pszWhat, unsigned long long nFiles, unsigned long long nFilesTotal,
                        unsigned long long nBytes, unsigned long long nBytesTotal) {
    if (!m_bTerminal) return;
    std::lock_guard<std::mutex> hold(m_lock);
    auto now = std::chrono::steady_clock::now();
    bool bLast = nFiles == nFilesTotal;
    if (m_bShown && !bLast && now - m_last < std::chrono::milliseconds(100)) return;
    m_last = now;
    m_bShown = true;
    if (nBytesTotal > 0)
        fprintf(m_out, "\r%s: files %llu/%llu, %.1f/%.1f MB   ", pszWhat, nFiles, nFilesTotal, Mb(nBytes), Mb(nBytesTotal));
    else
        fprintf(m_out, "\r%s: files %llu/%llu, %.1f MB   ", pszWhat, nFiles, nFilesTotal, Mb(nBytes));
    fflush(m_out);
}

void ProgressLine::Finish() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_bShown) return;
    fputc('\n', m_out);
    fflush(m_out);
    m_bShown = false;
}
