// One HTTP GET of a file into a local file, on a worker thread, with the
// progress, size and speed counters the update window reads.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>

#include "framework/Handles.h"
#include "net/AbortableRequest.h"
#include "net/PartFile.h"

// Event kinds raised through OnProgress and OnStatus.
enum FetchEvent {
    FETCH_PROGRESS = 10,  // OnProgress: share of the current file in ten-thousandths
    FETCH_BEGIN = 11,     // OnStatus: local path, before the request is opened
    FETCH_END = 12,       // OnStatus: local path, after a successful transfer
    STATUS_TEXT = 13,     // OnStatus: a message text of the update run
};

// Guards only m_bRunning and m_hThread between the worker and GetFile.
extern CRITICAL_SECTION g_csFetch;

class HttpFetcher {
public:
    HttpFetcher();
    virtual ~HttpFetcher();
    HttpFetcher(const HttpFetcher&) = delete;
    HttpFetcher& operator=(const HttpFetcher&) = delete;

    virtual void OnProgress(int nKind, int nValue);
    virtual void OnStatus(int nKind, const char* pszText);

    // Blocks until the transfer has ended. Rewrites backslashes in
    // pszRequestPath to "/" in place. True only for a complete body.
    bool GetFile(char* pszRequestPath, const char* pszLocalPath);

    // For a window that closes while a run goes on; safe from any thread.
    // The running transfer stops at its next read (its request is closed,
    // which on Windows also aborts a pending read) and fails cleanly; every
    // later GetFile of this fetcher fails. The destructor cancels, then waits
    // up to 3 s for the worker and terminates it only if it is still stuck.
    void CancelTransfer();
    // Lets transfers run again after a cancel, once the cancelled one has
    // ended (a new run of the same session).
    void AllowTransfers() { m_bCancelled = false; }

    HINTERNET m_hInternet = nullptr;  // owned by the update run
    HINTERNET m_hConnect = nullptr;   // owned by the update run
    std::string m_strRequestPath;
    std::string m_strLocalPath;
    HANDLE m_hThread = nullptr;
    LONG m_bRunning = 0;
    LONG m_bResult = 0;
    DWORD m_nLastSampleBytes = 0;
    std::atomic<DWORD> m_nSpeed{0};       // bytes per second, read by the window
    DWORD m_dwProgressTick = 0;
    DWORD m_dwSpeedTick = 0;
    std::atomic<DWORD> m_nFileSize{0};    // announced length, read by the window
    std::atomic<DWORD> m_nReceived{0};

private:
    static DWORD WINAPI TransferThreadProc(LPVOID pParam);
    bool RunTransfer();
    HINTERNET OpenChecked(DWORD* pnFileSize);
    bool ReceiveBody(HINTERNET hRequest, net::PartFile& part, DWORD nFileSize);
    void AfterBlock(DWORD nLocal, DWORD nFileSize);
    void WaitForWorker(HANDLE hThread);
    void EndRegisteredWorker();

    net::AbortableRequest m_request;     // the running transfer's request
    fw::UniqueHandle m_worker;           // owns the handle that m_hThread names
    std::atomic<bool> m_bCancelled{false};
};
