// One HTTP GET of a file into a local file, on the calling thread, with the
// progress, size and speed counters of that transfer. A run keeps one fetcher
// per transfer slot; all of them share the run's connection handle.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/Handles.h"
#include "net/AbortableRequest.h"
#include "net/BandwidthBudget.h"
#include "net/DiskBudget.h"
#include "net/PartFile.h"

namespace net {
class DeltaTransfer;
}

// Event kinds raised through OnProgress and OnStatus.
enum FetchEvent {
    FETCH_PROGRESS = 10,  // OnProgress: share of the current file in ten-thousandths
    FETCH_BEGIN = 11,     // OnStatus: local path, before the request is opened
    FETCH_END = 12,       // OnStatus: local path, after a successful transfer
    STATUS_TEXT = 13,     // OnStatus: a message text of the update run
};

// How a transfer ended. The run decides what each means (retry, next server,
// which message).
enum FetchResult {
    FETCH_DONE,        // the whole body arrived, passed its check and replaced the target
    FETCH_FAILED,      // connection lost, refused or stalled, body cut, 5xx: may pass on a retry
    FETCH_NOT_FOUND,   // 4xx, no usable length, too many redirects: the server says no
    FETCH_REJECTED,    // the body is not what the list promised (too long, wrong checksum)
    FETCH_DISK_FULL,   // the disk has no room for the body
    FETCH_CANCELLED,   // called off
};

// What a body must satisfy before it may replace its target. The fetcher
// feeds it every byte as it arrives, so nothing is read twice.
class BodyCheck {
public:
    // Longest acceptable body: a longer announced or delivered one fails at once.
    virtual uint64_t MaxBytes() const = 0;
    // The announced length, before anything is written: false fails the
    // transfer at once (a signed body must announce exactly its signed size).
    virtual bool AcceptsLength(uint64_t nLength) { return nLength <= MaxBytes(); }
    // A new body starts (each attempt, and a restart from the first byte).
    virtual void Begin() = 0;
    virtual void Update(const void* pData, size_t nSize) = 0;
    // The whole body has arrived: may it replace the target?
    virtual bool Accept() = 0;

protected:
    ~BodyCheck() = default;
};

class HttpFetcher {
public:
    HttpFetcher() = default;
    virtual ~HttpFetcher() = default;
    HttpFetcher(const HttpFetcher&) = delete;
    HttpFetcher& operator=(const HttpFetcher&) = delete;

    virtual void OnProgress(int nKind, int nValue);
    virtual void OnStatus(int nKind, const char* pszText);
    // Every block written, for counters that span several transfers.
    virtual void OnBlock(DWORD nBytes);

    // Runs one transfer on the calling thread. Rewrites backslashes in
    // pszRequestPath to "/" in place. True only for a complete body that
    // passed pCheck (when given) and replaced the target.
    bool GetFile(char* pszRequestPath, const char* pszLocalPath, BodyCheck* pCheck = nullptr);
    // The same, saying how it ended. bRevalidate: the body changes under this
    // address (the list, its signature), so every cache on the way must check
    // with the origin first.
    FetchResult Fetch(char* pszRequestPath, const char* pszLocalPath, BodyCheck* pCheck, bool bRevalidate = false);
    // Rebuilds the file from the blocks of the installed copy it replaces and
    // asks only for the spans that differ (one Range request for several
    // where the server answers multipart/byteranges; one a request where it
    // answers several with one, 416 or the whole file), led by the file's
    // block index at pszIndexPath, which pIndexCheck judges. The rebuilt file
    // passes pCheck before it replaces the target. A server that answers a
    // single range with the whole file gets taken whole. Anything else amiss fails with
    // FETCH_NOT_FOUND (no index) or FETCH_REJECTED: the caller then fetches
    // the whole file. A cut transfer keeps its part, as Fetch does.
    FetchResult FetchDelta(char* pszRequestPath, char* pszIndexPath, const char* pszLocalPath, BodyCheck* pCheck,
                           BodyCheck* pIndexCheck);
    // After FetchDelta: no server's delta is worth trying, as the index
    // itself was refused (malformed, another size, not the signed one) or
    // the installed copy's scan gave up.
    bool DeltaHopeless() const { return m_bDeltaHopeless; }

    // Safe from any thread. The running transfer stops at its next read (on
    // Windows closing the request also ends a pending read; Wine's WinINet
    // only returns at the stall limit) and every later transfer fails until
    // AllowTransfers.
    void CancelTransfer();
    void AllowTransfers() { m_bCancelled = false; }
    // How long a request may receive nothing (connecting, waiting for the
    // answer, or inside the body) before it fails.
    void SetStallLimit(DWORD nMs) { m_nStallLimitMs = nMs; }
    // The free space the run's transfers share (nullptr: this transfer alone).
    void SetDiskBudget(net::DiskBudget* pBudget) { m_pDiskBudget = pBudget; }
    // The bandwidth the run's transfers share (nullptr: no cap).
    void SetBandwidth(net::BandwidthBudget* pBudget) { m_pBandwidth = pBudget; }

    // How the last transfer went, for the run's routes and its log: the last
    // HTTP status (0: no answer came), the error of a send that failed (0:
    // none), and whether its body continued a kept part.
    int LastStatus() const { return m_nLastStatus; }
    DWORD LastSendError() const { return m_dwSendError; }
    bool LastResumed() const { return m_bResumed; }

    HINTERNET m_hInternet = nullptr;  // owned by the update run
    HINTERNET m_hConnect = nullptr;   // owned by the update run
    std::string m_strRequestPath;
    std::string m_strLocalPath;
    std::atomic<DWORD> m_nSpeed{0};          // bytes per second of this transfer
    std::atomic<uint64_t> m_nFileSize{0};    // announced length
    std::atomic<uint64_t> m_nReceived{0};    // bytes of this transfer that came over the line

    // Files announced with at least this many bytes keep what arrived of a
    // cut transfer and ask for the rest next time.
    static const uint32_t kResumeMinBytes = 1024 * 1024;
    // Large enough to take what loopback or a fast line delivers per read;
    // allocated once per transfer.
    static constexpr DWORD kReadBufferBytes = 256 * 1024;

private:
    friend class net::DeltaTransfer;

    // What the answer to a request promises.
    struct Answer {
        uint64_t nStart = 0;   // first byte of the body within the file (a resumed transfer)
        uint64_t nTotal = 0;   // the whole file's length
        std::string strValidator;  // ETag, else Last-Modified: what a later resume must match
    };

    static void ToSlashes(char* pszPath);
    void BeginTransfer(char* pszRequestPath, const char* pszLocalPath, bool bRevalidate = false);
    FetchResult EndTransfer(FetchResult result);
    FetchResult RunTransfer(BodyCheck* pCheck);
    FetchResult OpenForPart(net::PartFile& part, uint64_t nMaxBytes, Answer* pAnswer);
    FetchResult Receive(net::PartFile& part, const Answer& answer, BodyCheck* pCheck);
    FetchResult OpenChecked(uint64_t nHave, const std::string& strValidator, uint64_t nMaxBytes, Answer* pAnswer,
                            int* pnStatus);
    FetchResult SendFollowingRedirects(std::string strPath, const std::string& strHeaders, HINTERNET* phRequest,
                                       int* pnStatus);
    HINTERNET OpenRequest(HINTERNET hConnect, const char* pszPath);
    FetchResult ReceiveBody(HINTERNET hRequest, net::PartFile& part, const Answer& answer, BodyCheck* pCheck,
                            net::DiskReservation& room);
    FetchResult ReadPiece(HINTERNET hRequest, char* pBuffer, DWORD nMax, DWORD* pnRead);
    void CountMoved(DWORD nBytes, uint64_t nDone, uint64_t nTotal);
    void AfterBlock(uint64_t nLocal, uint64_t nFileSize);

    uint64_t m_nLastSampleBytes = 0;
    DWORD m_dwProgressTick = 0;
    DWORD m_dwSpeedTick = 0;
    DWORD m_dwBodyStart = 0;  // when the current body began: its rate sizes the reads
    DWORD m_dwLastByte = 0;   // when the open request last received anything
    DWORD m_nStallLimitMs = 30000;
    bool m_bRevalidate = false;  // the running transfer asks caches to check with the origin
    net::AbortableRequest m_request;   // the running transfer's request
    fw::InternetHandle m_redirectConnect;  // another server a redirect sent this request to
    std::atomic<bool> m_bCancelled{false};
    net::DiskBudget* m_pDiskBudget = nullptr;
    net::BandwidthBudget* m_pBandwidth = nullptr;
    // This slot's server answered a multi-range request with one range, 416 or
    // the whole file: from then on it asks one range per request.
    bool m_bSingleRanges = false;
    int m_nLastStatus = 0;
    DWORD m_dwSendError = 0;
    bool m_bResumed = false;
    bool m_bDeltaHopeless = false;
};
