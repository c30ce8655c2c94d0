// The requests of one transfer on one connection: each sent with its
// redirects followed, read with the stall limit, the run's bandwidth budget
// and its cancel token. Whoever holds the exchange knows nothing of handles.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/CancelToken.h"
#include "framework/Handles.h"
#include "net/AbortableRequest.h"
#include "net/BandwidthBudget.h"
#include "net/DiskBudget.h"
#include "net/FetchResult.h"

namespace net {

// What every transfer of a run shares. The root is the run's way to the
// server the request goes to: redirects to other servers start from it.
struct TransferContext {
    HINTERNET hRoot = nullptr;
    DiskBudget* pDisk = nullptr;            // nullptr: this transfer alone
    BandwidthBudget* pBandwidth = nullptr;  // nullptr: no cap
    DWORD nStallLimitMs = 30000;            // how long a request may receive nothing
    fw::CancelToken* pCancel = nullptr;     // the run's; never null
    // The server answered a request for several spans with one, 416 or the
    // whole file: its transfers ask one span per request (nullptr: none shared).
    std::atomic<bool>* pSingleRanges = nullptr;
};

class HttpExchange {
public:
    HttpExchange(const TransferContext& context, HINTERNET hConnect);
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    // GET strPath (not yet encoded slashes are turned to "/") with the extra
    // header lines, following at most five redirects, each for this request
    // only, and asking once more by the UTF-8 spelling of a GBK path that got
    // a 400. FETCH_DONE for a 200 or 206, whose body is then open to Read.
    FetchResult Send(const std::string& strPath, const std::string& strHeaders);
    // The last answer's status (0: none came) and a failed send's error (0: none).
    int Status() const { return m_nStatus; }
    DWORD SendError() const { return m_dwSendError; }
    bool ContentLength(uint64_t* pnLength) const;
    // A header of the open answer, "" when absent or longer than 255 bytes.
    std::string Header(const char* pszName) const;
    // ETag, else Last-Modified: what a later request must match to continue the body.
    std::string Validator() const;

    // A body begins: its rate from here sizes the reads.
    void BeginBody();
    // One read of the open body, *pnRead = 0 at its end.
    FetchResult Read(void* pBuffer, DWORD nMax, DWORD* pnRead);
    // The body was read to its end.
    void Close() { m_request.Close(); }
    // The body is left before its end.
    void Abandon() { m_request.Abandon(); }

    bool Cancelled() const { return m_request.IsAborted(); }
    const std::atomic<bool>& CancelFlag() const { return m_request.AbortFlag(); }
    // A failure, or FETCH_CANCELLED where the run was called off meanwhile.
    FetchResult Failed(FetchResult result) const { return Cancelled() ? FETCH_CANCELLED : result; }

private:
    FetchResult SendFollowing(std::string strPath, const std::string& strHeaders);
    HINTERNET OpenRequest(HINTERNET hConnect, const std::string& strPath);
    FetchResult FollowTo(HINTERNET hRequest, std::string* pPath, HINTERNET* phConnect);
    bool ReadSize(DWORD* pnAsk);

    TransferContext m_context;
    HINTERNET m_hConnect;
    AbortableRequest m_request;
    fw::InternetHandle m_redirectConnect;  // another server a redirect sent this request to
    int m_nStatus = 0;
    DWORD m_dwSendError = 0;
    DWORD m_dwBodyStart;
    DWORD m_dwLastByte;
    uint64_t m_nBodyBase = 0;   // bytes received before this body began
    uint64_t m_nReceived = 0;   // bytes this exchange received
};

}  // namespace net
