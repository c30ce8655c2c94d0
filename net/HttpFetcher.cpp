// The HTTP file fetcher: one GET on a worker thread into a temporary file
// beside the target, which replaces the target only when the whole announced
// body has arrived.
#include "net/HttpFetcher.h"

#include <mmsystem.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "net/TransferMath.h"

CRITICAL_SECTION g_csFetch;

namespace {

// Large enough to take what loopback or a fast line delivers per read;
// allocated once per transfer, off the worker's stack.
constexpr DWORD kReadBufferSize = 256 * 1024;
// Upper bound of one wait of GetFile between two looks at m_bRunning.
constexpr DWORD kWaitSliceMs = 100;
// How long ending a worker waits for it before the last resort.
constexpr DWORD kEndWorkerWaitMs = 3000;

void DebugError(const char* pszCall, DWORD dwError) {
    char szText[128];
    wsprintfA(szText, "GetFile: %s failed, error %lu", pszCall, dwError);
    OutputDebugStringA(szText);
}

// How much the next read asks for. A synchronous read waits until its whole
// buffer is full, which on a slow line would hold back progress and a cancel
// for a long time; asking for what has arrived, or for what the rate so far
// brings within one read slice, keeps both going.
DWORD ReadSizeFor(HINTERNET hRequest, DWORD nReceived, DWORD dwBodyStart) {
    DWORD nElapsedMs = timeGetTime() - dwBodyStart;
    // A line that fills the whole buffer within one read slice needs no
    // question first: each question costs a call of its own.
    if (net::NextReadSize(1, nReceived, nElapsedMs, kReadBufferSize) >= kReadBufferSize) return kReadBufferSize;
    DWORD nAvailable = 0;
    if (!InternetQueryDataAvailable(hRequest, &nAvailable, 0, 0)) nAvailable = 0;
    return net::NextReadSize(nAvailable, nReceived, nElapsedMs, kReadBufferSize);
}

// Closes the transfer's request on every way out of RunTransfer.
class RequestCloser {
public:
    explicit RequestCloser(net::AbortableRequest& request) : m_request(request) {}
    ~RequestCloser() { m_request.Close(); }
    RequestCloser(const RequestCloser&) = delete;
    RequestCloser& operator=(const RequestCloser&) = delete;

private:
    net::AbortableRequest& m_request;
};

}  // namespace

HttpFetcher::HttpFetcher() {
    // Once per process: tests and a restarted session build more than one fetcher.
    static const bool bLockReady = (InitializeCriticalSection(&g_csFetch), true);
    (void)bLockReady;
}

HttpFetcher::~HttpFetcher() {
    CancelTransfer();
    EndRegisteredWorker();
}

void HttpFetcher::OnProgress(int, int) {}

void HttpFetcher::OnStatus(int, const char*) {}

void HttpFetcher::CancelTransfer() {
    m_bCancelled = true;
    m_request.Abort();
}

bool HttpFetcher::GetFile(char* pszRequestPath, const char* pszLocalPath) {
    OutputDebugStringA("GetFile");
    for (char* p = pszRequestPath; *p != '\0'; ++p) {
        if (*p == '\\') *p = '/';
    }
    m_strRequestPath = pszRequestPath;
    m_strLocalPath = pszLocalPath;
    m_nLastSampleBytes = 0;
    m_nSpeed = 0;
    m_dwProgressTick = timeGetTime();
    m_dwSpeedTick = timeGetTime();
    m_nFileSize = 0;
    m_nReceived = 0;

    // A worker left from a caller that went away must be gone before ours
    // starts: its end would otherwise clear our registration.
    EndRegisteredWorker();
    m_request.Begin();
    if (m_bCancelled) m_request.Abort();

    {
        fw::CriticalSectionLock lock(g_csFetch);
        m_bRunning = 1;
    }
    m_bResult = 1;
    HANDLE hThread = CreateThread(nullptr, 0, TransferThreadProc, this, 0, nullptr);
    if (hThread == nullptr) {
        DebugError("CreateThread", GetLastError());
        fw::CriticalSectionLock lock(g_csFetch);
        m_bRunning = 0;
        return false;
    }
    m_worker.Reset(hThread);
    {
        // A worker that has already ended must not stay registered.
        fw::CriticalSectionLock lock(g_csFetch);
        if (m_bRunning) m_hThread = hThread;
    }
    WaitForWorker(hThread);
    m_worker.Reset();
    return m_bResult != 0;
}

void HttpFetcher::WaitForWorker(HANDLE hThread) {
    for (;;) {
        WaitForSingleObject(hThread, kWaitSliceMs);
        fw::CriticalSectionLock lock(g_csFetch);
        if (!m_bRunning) return;
    }
}

void HttpFetcher::EndRegisteredWorker() {
    HANDLE hThread;
    {
        fw::CriticalSectionLock lock(g_csFetch);
        hThread = m_hThread;
    }
    if (hThread != nullptr) {
        m_request.Abort();
        if (WaitForSingleObject(hThread, kEndWorkerWaitMs) != WAIT_OBJECT_0) {
            // Last resort only: a thread killed while it holds a lock (the
            // heap's, WinINet's) leaves that lock taken for the whole process.
            OutputDebugStringA("GetFile: worker did not end in time, terminating it");
            TerminateThread(hThread, 0);
            fw::CriticalSectionLock lock(g_csFetch);
            m_hThread = nullptr;
            m_bRunning = 0;
        }
    }
    m_worker.Reset();
}

DWORD WINAPI HttpFetcher::TransferThreadProc(LPVOID pParam) {
    HttpFetcher* pFetcher = static_cast<HttpFetcher*>(pParam);
    pFetcher->m_bResult = pFetcher->RunTransfer() ? 1 : 0;
    // The last touch of the fetcher: once this lock is left it may be gone.
    fw::CriticalSectionLock lock(g_csFetch);
    pFetcher->m_hThread = nullptr;
    pFetcher->m_bRunning = 0;
    return 0;
}

bool HttpFetcher::RunTransfer() {
    OnStatus(FETCH_BEGIN, m_strLocalPath.c_str());
    RequestCloser closer(m_request);
    DWORD nFileSize = 0;
    HINTERNET hRequest = OpenChecked(&nFileSize);
    if (hRequest == nullptr) return false;
    m_nFileSize = nFileSize;
    m_nReceived = 0;

    // Nothing touches the disk before the status and the length have passed.
    net::PartFile part;
    if (!part.Create(m_strLocalPath)) return false;
    if (!ReceiveBody(hRequest, part, nFileSize)) return false;
    m_request.Close();
    if (!part.Commit(m_request.AbortFlag())) return false;
    OnStatus(FETCH_END, m_strLocalPath.c_str());
    return true;
}

// Opens and sends the request; returns it only for status 200 with a
// readable Content-Length.
HINTERNET HttpFetcher::OpenChecked(DWORD* pnFileSize) {
    HINTERNET hRequest = HttpOpenRequestA(m_hConnect, "GET", m_strRequestPath.c_str(), "HTTP/1.0",
                                          nullptr, nullptr, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (hRequest == nullptr) {
        DebugError("HttpOpenRequestA", GetLastError());
        return nullptr;
    }
    if (!m_request.Adopt(hRequest)) return nullptr;
    if (!HttpSendRequestA(hRequest, nullptr, 0, nullptr, 0)) {
        DebugError("HttpSendRequestA", GetLastError());
        return nullptr;
    }
    char szStatus[16] = {};
    DWORD nLength = sizeof(szStatus);
    if (!HttpQueryInfoA(hRequest, HTTP_QUERY_STATUS_CODE, szStatus, &nLength, nullptr)) {
        DebugError("HttpQueryInfoA(status)", GetLastError());
        return nullptr;
    }
    if (atoi(szStatus) != 200) {
        OutputDebugStringA("GetFile: status is not 200");
        return nullptr;
    }
    char szContentLength[32] = {};
    nLength = sizeof(szContentLength);
    DWORD dwIndex = 0;
    if (!HttpQueryInfoA(hRequest, HTTP_QUERY_CONTENT_LENGTH, szContentLength, &nLength, &dwIndex)) {
        DebugError("HttpQueryInfoA(Content-Length)", GetLastError());
        return nullptr;
    }
    uint32_t nFileSize = 0;
    if (!net::ParseContentLength(szContentLength, &nFileSize)) {
        OutputDebugStringA("GetFile: unreadable Content-Length");
        return nullptr;
    }
    *pnFileSize = nFileSize;
    return hRequest;
}

// Reads the body into the part file; true only for exactly nFileSize bytes.
bool HttpFetcher::ReceiveBody(HINTERNET hRequest, net::PartFile& part, DWORD nFileSize) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadBufferSize]);
    bool bOk = buffer != nullptr;
    DWORD nLocal = 0;
    DWORD dwBodyStart = timeGetTime();
    while (bOk && !m_request.IsAborted()) {
        DWORD nRead = 0;
        if (!InternetReadFile(hRequest, buffer.get(), ReadSizeFor(hRequest, nLocal, dwBodyStart), &nRead)) {
            DebugError("InternetReadFile", GetLastError());
            bOk = false;
        } else if (nRead == 0) {
            break;
        } else if (nRead > nFileSize - nLocal) {
            OutputDebugStringA("GetFile: body longer than Content-Length");
            bOk = false;
        } else if (!part.Write(buffer.get(), nRead)) {
            bOk = false;
        } else {
            nLocal += nRead;
            m_nReceived += nRead;
            AfterBlock(nLocal, nFileSize);
        }
    }
    OnProgress(FETCH_PROGRESS, net::ProgressShare(nLocal, nFileSize));
    if (m_request.IsAborted()) return false;
    if (bOk && nLocal != nFileSize) OutputDebugStringA("GetFile: body shorter than Content-Length");
    return bOk && nLocal == nFileSize;
}

// Speed sample and progress report after one block. Both time bases move by
// whole steps, so after a stall the reports catch up one per block.
void HttpFetcher::AfterBlock(DWORD nLocal, DWORD nFileSize) {
    if (net::StepDue(timeGetTime(), m_dwSpeedTick, net::kSpeedWindowMs)) {
        DWORD nTotal = m_nReceived;
        DWORD dwNow = timeGetTime();
        m_nSpeed = net::BytesPerSecond(nTotal - m_nLastSampleBytes, dwNow - m_dwSpeedTick);
        m_nLastSampleBytes = nTotal;
        m_dwSpeedTick += net::kSpeedWindowMs;
    }
    if (net::StepDue(timeGetTime(), m_dwProgressTick, net::kProgressStepMs)) {
        OnProgress(FETCH_PROGRESS, net::ProgressShare(nLocal, nFileSize));
        m_dwProgressTick += net::kProgressStepMs;
    }
}
