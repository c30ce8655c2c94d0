// The floor of the platform layer: fetches every URL path of a list file
// (one per line) through one WinINet connect handle with a 256 KiB buffer
// into <out-dir>\<path>, folders created on the way. Prints its own time.
//   wininet_peer [--threads N] [--http10] [--thread-per-file] [--ask-available] [--flush]
//                <host> <port> <url-list> <out-dir>
// --threads N: N threads take the paths in list order, each its next one as it
// finishes the last, over HTTP/1.1 keep-alive with the per-server connection
// limit raised to N: the plain loop with the updater's number of transfers.
// The options take on one trait of the updater each, to show what it costs:
// its HTTP/1.0 requests, its worker thread per file, its reads sized by
// InternetQueryDataAvailable, and its flush of each file before it is closed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/PeerHttp.h"

namespace {

class FileSink : public bench::BodySink {
public:
    explicit FileSink(HANDLE h) : m_file(h) {}
    bool IsValid() const { return m_file.IsValid(); }
    bool Flush() { return FlushFileBuffers(m_file.Get()) != 0; }
    bool Write(const char* p, DWORD n) override {
        DWORD nWritten = 0;
        return WriteFile(m_file.Get(), p, n, &nWritten, nullptr) && nWritten == n;
    }

private:
    fw::UniqueHandle m_file;
};

std::vector<std::string> ReadLines(const char* pszPath) {
    std::vector<std::string> lines;
    FILE* f = fopen(pszPath, "rb");
    if (!f) return lines;
    char szLine[1024];
    while (fgets(szLine, sizeof(szLine), f)) {
        std::string s(szLine);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (!s.empty()) lines.push_back(s);
    }
    fclose(f);
    return lines;
}

// Creates the folders of strFile's parent, skipping the one made last time.
void MakeParents(const std::string& strFile, std::string& strLastDir) {
    size_t nSlash = strFile.rfind('\\');
    if (nSlash == std::string::npos || strFile.compare(0, nSlash, strLastDir) == 0) return;
    strLastDir = strFile.substr(0, nSlash);
    for (size_t i = strFile.find('\\', 3); i != std::string::npos && i <= nSlash; i = strFile.find('\\', i + 1))
        CreateDirectoryA(strFile.substr(0, i).c_str(), nullptr);
}

struct Options {
    const char* pszVersion = nullptr;
    int nThreads = 0;
    bool bThreadPerFile = false;
    bool bAskAvailable = false;
    bool bFlush = false;
};

struct FetchJob {
    bench::PeerConnection* pConnection;
    const std::string* pPath;
    const std::string* pFile;
    char* pBuffer;
    bench::ReadCounts* pCounts;
    bool bFlush;
    bool bOk;
};

void RunJob(FetchJob& job) {
    FileSink sink(CreateFileA(job.pFile->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    job.bOk = sink.IsValid() && job.pConnection->Get(*job.pPath, sink, job.pBuffer, *job.pCounts) &&
              (!job.bFlush || sink.Flush());
}

// The path's query (the updater's "?v=") names no file.
std::string LocalFile(const std::string& strOut, const std::string& strPath) {
    std::string strFile = strOut + "\\" + strPath.substr(1, strPath.find('?') - 1);
    for (char& c : strFile)
        if (c == '/') c = '\\';
    return strFile;
}

DWORD WINAPI JobThreadProc(LPVOID pParam) {
    RunJob(*static_cast<FetchJob*>(pParam));
    return 0;
}

bool Fetch(FetchJob& job, const Options& options) {
    if (!options.bThreadPerFile) {
        RunJob(job);
        return job.bOk;
    }
    fw::UniqueHandle thread(CreateThread(nullptr, 0, JobThreadProc, &job, 0, nullptr));
    if (!thread.IsValid()) return false;
    WaitForSingleObject(thread.Get(), INFINITE);
    return job.bOk;
}

// The work the threads of --threads share: the next path to take, what failed.
struct SharedWork {
    bench::PeerConnection* pConnection;
    const std::vector<std::string>* pPaths;
    const std::string* pOut;
    bool bFlush;
    volatile LONG nNext;
    volatile LONG nFailed;
};

struct Worker {
    SharedWork* pWork;
    bench::ReadCounts counts;
};

DWORD WINAPI WorkerThreadProc(LPVOID pParam) {
    Worker& worker = *static_cast<Worker*>(pParam);
    SharedWork& work = *worker.pWork;
    std::unique_ptr<char[]> buffer(new char[bench::kPeerBufferSize]);
    std::string strLastDir;
    for (;;) {
        LONG nIndex = InterlockedIncrement(&work.nNext) - 1;
        if (nIndex >= static_cast<LONG>(work.pPaths->size())) return 0;
        const std::string& strPath = (*work.pPaths)[nIndex];
        std::string strFile = LocalFile(*work.pOut, strPath);
        MakeParents(strFile, strLastDir);
        FetchJob job = {work.pConnection, &strPath, &strFile, buffer.get(), &worker.counts, work.bFlush, false};
        RunJob(job);
        if (!job.bOk) InterlockedIncrement(&work.nFailed);
    }
}

// Runs the threads to their end; the counts of all of them land in counts.
int FetchInThreads(SharedWork& work, int nThreads, bench::ReadCounts& counts) {
    std::vector<Worker> workers(nThreads, Worker{&work, {}});
    std::vector<fw::UniqueHandle> threads;
    bool bStarted = true;
    for (Worker& worker : workers) {
        threads.emplace_back(CreateThread(nullptr, 0, WorkerThreadProc, &worker, 0, nullptr));
        bStarted = bStarted && threads.back().IsValid();
    }
    // The threads that did start use workers: they must end before it goes.
    for (fw::UniqueHandle& thread : threads)
        if (thread.IsValid()) WaitForSingleObject(thread.Get(), INFINITE);
    if (!bStarted) return -1;
    for (const Worker& worker : workers) {
        counts.m_nReads += worker.counts.m_nReads;
        counts.m_nBytes += worker.counts.m_nBytes;
    }
    return work.nFailed;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int nArg = 1;
    for (; nArg < argc && argv[nArg][0] == '-'; ++nArg) {
        if (strcmp(argv[nArg], "--threads") == 0 && nArg + 1 < argc) options.nThreads = atoi(argv[++nArg]);
        else if (strcmp(argv[nArg], "--http10") == 0) options.pszVersion = "HTTP/1.0";
        else if (strcmp(argv[nArg], "--thread-per-file") == 0) options.bThreadPerFile = true;
        else if (strcmp(argv[nArg], "--ask-available") == 0) options.bAskAvailable = true;
        else if (strcmp(argv[nArg], "--flush") == 0) options.bFlush = true;
    }
    if (argc - nArg != 4) {
        fprintf(stderr, "usage: wininet_peer [--threads N] [--http10] [--thread-per-file] [--ask-available] [--flush] "
                "<host> <port> <url-list> <out-dir>\n");
        return 2;
    }
    if (options.nThreads < 0 || options.nThreads > 64) {
        fprintf(stderr, "wininet_peer: --threads takes 1 to 64\n");
        return 2;
    }
    std::vector<std::string> paths = ReadLines(argv[nArg + 2]);
    std::unique_ptr<char[]> buffer(new char[bench::kPeerBufferSize]);
    double t0 = bench::NowMs();
    bench::PeerConnection connection;
    if (!connection.Open(argv[nArg], static_cast<unsigned short>(atoi(argv[nArg + 1])), options.pszVersion,
                         static_cast<DWORD>(options.nThreads)))
        return 1;
    if (options.bAskAvailable) connection.AskAvailableOnly();
    std::string strOut = argv[nArg + 3], strLastDir;
    bench::ReadCounts counts;
    int nFailed = 0;
    if (options.nThreads > 0) {
        SharedWork work = {&connection, &paths, &strOut, options.bFlush, 0, 0};
        nFailed = FetchInThreads(work, options.nThreads, counts);
    } else {
        for (const std::string& strPath : paths) {
            std::string strFile = LocalFile(strOut, strPath);
            MakeParents(strFile, strLastDir);
            FetchJob job = {&connection, &strPath, &strFile, buffer.get(), &counts, options.bFlush, false};
            if (!Fetch(job, options)) ++nFailed;
        }
    }
    printf("fetched %u files in %.1f ms, %d failed, %llu reads of %.0f bytes on average\n",
           static_cast<unsigned>(paths.size()), bench::NowMs() - t0, nFailed, counts.m_nReads,
           counts.m_nReads ? static_cast<double>(counts.m_nBytes) / counts.m_nReads : 0.0);
    return nFailed == 0 ? 0 : 1;
}
