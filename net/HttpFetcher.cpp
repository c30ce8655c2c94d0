// The HTTP file fetcher: one GET on the calling thread into a temporary file
// beside the target, which replaces the target only when the whole announced
// body has arrived and passed its check.
#include "net/HttpFetcher.h"

#include <mmsystem.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "framework/SupportLog.h"
#include "net/RequestInfo.h"
#include "net/RequestShape.h"
#include "net/TransferMath.h"

using net::DebugFetchError;

namespace {

constexpr DWORD kReadBufferSize = HttpFetcher::kReadBufferBytes;
// A redirect loop must not spin: more than this many fail the request.
constexpr int kMaxRedirects = 5;

// Kept connections: every slot of a run reuses its own connection.
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES;

// How much the next read asks for. A synchronous read waits until its whole
// buffer is full, which on a slow line would hold back progress and a cancel
// for a long time; asking for what has arrived, or for what the rate so far
// brings within one read slice, keeps both going. False when the question
// itself waited out the stall limit: the read after it would wait as long
// again, and the limit counts from the last byte, not per call.
bool ReadSizeFor(HINTERNET hRequest, uint64_t nReceived, DWORD dwBodyStart, DWORD dwLastByte, DWORD nStallLimitMs,
                 DWORD* pnAsk) {
    DWORD nElapsedMs = timeGetTime() - dwBodyStart;
    *pnAsk = kReadBufferSize;
    // A line that fills the whole buffer within one read slice needs no
    // question first: each question costs a call of its own.
    if (net::NextReadSize(1, nReceived, nElapsedMs, kReadBufferSize) >= kReadBufferSize) return true;
    DWORD nAvailable = 0;
    if (!InternetQueryDataAvailable(hRequest, &nAvailable, 0, 0)) {
        DWORD dwError = GetLastError();
        // The platform's timer may end a little early: a tenth of slack.
        if (timeGetTime() - dwLastByte >= nStallLimitMs - nStallLimitMs / 10) {
            DebugFetchError("InternetQueryDataAvailable", dwError);
            return false;
        }
        nAvailable = 0;
    }
    *pnAsk = net::NextReadSize(nAvailable, nReceived, nElapsedMs, kReadBufferSize);
    return true;
}

bool IsRedirect(int nStatus) {
    return nStatus == 301 || nStatus == 302 || nStatus == 303 || nStatus == 307 || nStatus == 308;
}

FetchResult ResultOfStatus(int nStatus) {
    if (nStatus >= 400 && nStatus < 500) return FETCH_NOT_FOUND;
    return FETCH_FAILED;
}

}  // namespace

void HttpFetcher::OnProgress(int, int) {}

void HttpFetcher::OnStatus(int, const char*) {}

void HttpFetcher::OnBlock(DWORD) {}

void HttpFetcher::CancelTransfer() {
    m_bCancelled = true;
    m_request.Abort();
}

bool HttpFetcher::GetFile(char* pszRequestPath, const char* pszLocalPath, BodyCheck* pCheck) {
    return Fetch(pszRequestPath, pszLocalPath, pCheck) == FETCH_DONE;
}

FetchResult HttpFetcher::Fetch(char* pszRequestPath, const char* pszLocalPath, BodyCheck* pCheck, bool bRevalidate) {
    BeginTransfer(pszRequestPath, pszLocalPath, bRevalidate);
    return EndTransfer(RunTransfer(pCheck));
}

void HttpFetcher::BeginTransfer(char* pszRequestPath, const char* pszLocalPath, bool bRevalidate) {
    m_bRevalidate = bRevalidate;
    ToSlashes(pszRequestPath);
    fw::LogFormat("GetFile %.300s", pszRequestPath);
    m_nLastStatus = 0;
    m_dwSendError = 0;
    m_bResumed = false;
    m_strRequestPath = pszRequestPath;
    m_strLocalPath = pszLocalPath;
    m_nLastSampleBytes = 0;
    m_nSpeed = 0;
    m_dwProgressTick = timeGetTime();
    m_dwSpeedTick = timeGetTime();
    m_dwBodyStart = timeGetTime();
    m_nFileSize = 0;
    m_nReceived = 0;
    m_request.Begin();
    if (m_bCancelled) m_request.Abort();
}

FetchResult HttpFetcher::EndTransfer(FetchResult result) {
    m_redirectConnect.Reset();
    if (result != FETCH_DONE && m_request.IsAborted()) return FETCH_CANCELLED;
    return result;
}

void HttpFetcher::ToSlashes(char* pszPath) {
    for (char* p = pszPath; *p != '\0'; ++p) {
        if (*p == '\\') *p = '/';
    }
}

FetchResult HttpFetcher::RunTransfer(BodyCheck* pCheck) {
    OnStatus(FETCH_BEGIN, m_strLocalPath.c_str());
    net::RequestCloser closer(m_request);
    net::PartFile part(m_strLocalPath);
    Answer answer;
    FetchResult result = OpenForPart(part, pCheck ? pCheck->MaxBytes() : UINT64_MAX, &answer);
    if (result != FETCH_DONE) return result;
    if (pCheck && !pCheck->AcceptsLength(answer.nTotal)) return FETCH_REJECTED;
    m_nFileSize = answer.nTotal;
    m_nReceived = 0;
    result = Receive(part, answer, pCheck);
    // A part noted for resuming stays for the next try; any other is removed.
    if (result == FETCH_FAILED || result == FETCH_CANCELLED) part.Keep();
    if (result != FETCH_DONE) return result;
    if (!part.Commit(m_request.AbortFlag())) return FETCH_FAILED;
    OnStatus(FETCH_END, m_strLocalPath.c_str());
    return FETCH_DONE;
}

// Asks for the rest of a kept part, or for the whole file. A part the server
// can't continue (416: the kept bytes already reach its end) is dropped and
// the whole file asked for at once.
FetchResult HttpFetcher::OpenForPart(net::PartFile& part, uint64_t nMaxBytes, Answer* pAnswer) {
    std::string strValidator;
    uint64_t nHave = part.Resumable(&strValidator);
    int nStatus = 0;
    FetchResult result = OpenChecked(nHave, strValidator, nMaxBytes, pAnswer, &nStatus);
    if (nHave > 0 && nStatus == 416 && !m_request.IsAborted()) {
        fw::LogLine("GetFile: the kept part can't be continued; fetching the whole file");
        part.Discard();
        nHave = 0;
        result = OpenChecked(0, std::string(), nMaxBytes, pAnswer, &nStatus);
    }
    // A transient failure leaves what arrived before for the next try.
    if (result != FETCH_DONE && nHave > 0 && (result == FETCH_FAILED || result == FETCH_CANCELLED)) part.Keep();
    return result;
}

// The body into the temporary file: appended to what a cut transfer kept, or
// from the first byte. Nothing touches the disk when the body can't fit on it.
FetchResult HttpFetcher::Receive(net::PartFile& part, const Answer& answer, BodyCheck* pCheck) {
    net::DiskReservation room(m_pDiskBudget);
    if (!room.Take(m_strLocalPath, answer.nTotal - answer.nStart)) return FETCH_DISK_FULL;
    if (!(answer.nStart > 0 ? part.Append() : part.Create())) return FETCH_FAILED;
    m_bResumed = answer.nStart > 0;
    // Noted before the first byte: a kill at any moment leaves a part to resume.
    if (answer.nTotal >= kResumeMinBytes) part.Note(answer.strValidator, answer.nTotal);
    if (pCheck) {
        pCheck->Begin();
        if (answer.nStart > 0 &&
            !part.ReadExisting([pCheck](const void* p, size_t n) { pCheck->Update(p, n); }, m_request.AbortFlag()))
            return m_request.IsAborted() ? FETCH_CANCELLED : FETCH_FAILED;
    }
    FetchResult result = ReceiveBody(m_request.Handle(), part, answer, pCheck, room);
    if (result != FETCH_DONE) return result;
    m_request.Close();
    if (pCheck && !pCheck->Accept()) {
        fw::LogFailure("GetFile: the body failed its check");
        return FETCH_REJECTED;
    }
    return FETCH_DONE;
}

HINTERNET HttpFetcher::OpenRequest(HINTERNET hConnect, const char* pszPath) {
    HINTERNET hRequest = HttpOpenRequestA(hConnect, "GET", pszPath, "HTTP/1.1", nullptr, nullptr, kRequestFlags, 0);
    if (hRequest == nullptr) {
        DebugFetchError("HttpOpenRequestA", GetLastError());
        return nullptr;
    }
    // A server that accepts and then says nothing must not hold the run: every
    // wait of this request (connecting, the answer, each read) ends at the limit.
    DWORD nLimit = m_nStallLimitMs;
    InternetSetOptionA(hRequest, INTERNET_OPTION_CONNECT_TIMEOUT, &nLimit, sizeof(nLimit));
    InternetSetOptionA(hRequest, INTERNET_OPTION_SEND_TIMEOUT, &nLimit, sizeof(nLimit));
    InternetSetOptionA(hRequest, INTERNET_OPTION_RECEIVE_TIMEOUT, &nLimit, sizeof(nLimit));
    return m_request.Adopt(hRequest) ? hRequest : nullptr;
}

// Sends the request and follows at most kMaxRedirects redirects, each for this
// request only: a redirect to another server gets a connection of its own, so
// the run's later requests still go where the run sends them.
FetchResult HttpFetcher::SendFollowingRedirects(std::string strPath, const std::string& strHeaders,
                                                HINTERNET* phRequest, int* pnStatus) {
    HINTERNET hConnect = m_hConnect;
    for (int nHop = 0;; ++nHop) {
        HINTERNET hRequest = OpenRequest(hConnect, strPath.c_str());
        if (hRequest == nullptr) return FETCH_FAILED;
        if (!HttpSendRequestA(hRequest, strHeaders.empty() ? nullptr : strHeaders.c_str(),
                              static_cast<DWORD>(strHeaders.size()), nullptr, 0)) {
            m_dwSendError = GetLastError();
            DebugFetchError("HttpSendRequestA", m_dwSendError);
            return FETCH_FAILED;
        }
        m_dwLastByte = timeGetTime();
        int nStatus = net::QueryStatus(hRequest);
        m_nLastStatus = nStatus;
        if (!IsRedirect(nStatus)) {
            *phRequest = hRequest;
            *pnStatus = nStatus;
            return nStatus == 200 || nStatus == 206 ? FETCH_DONE : ResultOfStatus(nStatus);
        }
        if (nHop >= kMaxRedirects) {
            fw::LogFailure("GetFile: too many redirects");
            return FETCH_NOT_FOUND;
        }
        char szLocation[INTERNET_MAX_URL_LENGTH] = {};
        DWORD nLength = sizeof(szLocation) - 1;
        if (!HttpQueryInfoA(hRequest, HTTP_QUERY_LOCATION, szLocation, &nLength, nullptr)) return FETCH_NOT_FOUND;
        m_request.Abandon();
        if (szLocation[0] == '/' && szLocation[1] != '/') {
            strPath = szLocation;
            continue;
        }
        // "//host/path" names another server in the request's own scheme.
        std::string strLocation = szLocation[0] == '/' ? std::string("http:") + szLocation : std::string(szLocation);
        char szHost[INTERNET_MAX_HOST_NAME_LENGTH] = {};
        char szUrlPath[INTERNET_MAX_URL_LENGTH] = {};
        URL_COMPONENTSA url = {};
        url.dwStructSize = sizeof(url);
        url.lpszHostName = szHost;
        url.dwHostNameLength = sizeof(szHost);
        url.lpszUrlPath = szUrlPath;
        url.dwUrlPathLength = sizeof(szUrlPath);
        if (!InternetCrackUrlA(strLocation.c_str(), 0, 0, &url) || url.nScheme != INTERNET_SCHEME_HTTP)
            return FETCH_NOT_FOUND;
        m_redirectConnect.Reset(InternetConnectA(m_hInternet, szHost, url.nPort, "", "", INTERNET_SERVICE_HTTP, 0, 0));
        if (!m_redirectConnect.IsValid()) return FETCH_FAILED;
        hConnect = m_redirectConnect.Get();
        strPath = szUrlPath[0] ? szUrlPath : "/";
    }
}

// Opens and sends the request (asking for the rest of a kept body when there
// is one); the request stays open only for a 200, or a 206 that continues the
// kept bytes, with a readable length no longer than nMaxBytes.
FetchResult HttpFetcher::OpenChecked(uint64_t nHave, const std::string& strValidator, uint64_t nMaxBytes,
                                     Answer* pAnswer, int* pnStatus) {
    std::string strHeaders = m_bRevalidate ? net::kRevalidateHeaders : "";
    if (nHave > 0) strHeaders += "Range: bytes=" + std::to_string(nHave) + "-\r\nIf-Range: " + strValidator + "\r\n";
    HINTERNET hRequest = nullptr;
    int& nStatus = *pnStatus;
    nStatus = 0;
    FetchResult result = SendFollowingRedirects(m_strRequestPath, strHeaders, &hRequest, &nStatus);
    if (result != FETCH_DONE) {
        if (nStatus == 407)
            fw::LogFailure("GetFile: HTTP 407, the proxy asks for credentials that the system doesn't supply");
        else if (nStatus != 0 && (result == FETCH_FAILED || result == FETCH_NOT_FOUND))
            fw::LogFailureFormat("GetFile: HTTP %d, no 200 answer", nStatus);
        return result;
    }
    uint64_t nLength = 0;
    if (!net::QueryContentLength(hRequest, &nLength)) {
        fw::LogFailure("GetFile: no readable Content-Length");
        return FETCH_NOT_FOUND;
    }
    pAnswer->nTotal = nLength;
    if (nStatus == 206) {
        // Only the rest of the kept bytes will do; anything else starts over.
        std::string strRange = net::QueryHeader(hRequest, "Content-Range");
        uint64_t nStart = 0, nLast = 0, nTotal = 0;
        if (nHave == 0 || !net::ParseContentRange(strRange.c_str(), &nStart, &nLast, &nTotal) || nStart != nHave ||
            nLast + 1 != nTotal || nTotal - nStart != nLength) {
            fw::LogFailure("GetFile: a range that doesn't continue the kept bytes");
            return FETCH_REJECTED;
        }
        pAnswer->nStart = nStart;
        pAnswer->nTotal = nTotal;
    }
    if (pAnswer->nTotal > nMaxBytes) {
        fw::LogFailure("GetFile: announced body longer than allowed");
        return FETCH_REJECTED;
    }
    pAnswer->strValidator = net::QueryValidator(hRequest);
    return FETCH_DONE;
}

// Reads the body into the part file; done only once the file is whole.
FetchResult HttpFetcher::ReceiveBody(HINTERNET hRequest, net::PartFile& part, const Answer& answer, BodyCheck* pCheck,
                                     net::DiskReservation& room) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadBufferSize]);
    if (!buffer) return FETCH_FAILED;
    FetchResult result = FETCH_DONE;
    const uint64_t nFileSize = answer.nTotal;
    uint64_t nLocal = answer.nStart;
    m_dwBodyStart = timeGetTime();
    while (result == FETCH_DONE && !m_request.IsAborted()) {
        DWORD nRead = 0;
        result = ReadPiece(hRequest, buffer.get(), kReadBufferSize, &nRead);
        if (result != FETCH_DONE || nRead == 0) {
            break;
        } else if (nRead > nFileSize - nLocal) {
            fw::LogFailure("GetFile: body longer than Content-Length");
            result = FETCH_REJECTED;
        } else {
            net::WriteResult written = part.Write(buffer.get(), nRead);
            if (written != net::WRITE_OK) {
                result = written == net::WRITE_DISK_FULL ? FETCH_DISK_FULL : FETCH_FAILED;
                break;
            }
            room.Written(nRead);
            if (pCheck) pCheck->Update(buffer.get(), nRead);
            nLocal += nRead;
            CountMoved(nRead, nLocal, nFileSize);
        }
    }
    OnProgress(FETCH_PROGRESS, net::ProgressShare(nLocal, nFileSize));
    if (m_request.IsAborted()) return FETCH_CANCELLED;
    if (result == FETCH_DONE && nLocal != nFileSize) {
        fw::LogFailure("GetFile: body shorter than Content-Length");
        result = FETCH_FAILED;
    }
    return result;
}

// One read of a body: *pnRead = 0 at its end.
FetchResult HttpFetcher::ReadPiece(HINTERNET hRequest, char* pBuffer, DWORD nMax, DWORD* pnRead) {
    *pnRead = 0;
    if (m_request.IsAborted()) return FETCH_CANCELLED;
    DWORD nAsk = 0;
    if (!ReadSizeFor(hRequest, m_nReceived, m_dwBodyStart, m_dwLastByte, m_nStallLimitMs, &nAsk))
        return m_request.IsAborted() ? FETCH_CANCELLED : FETCH_FAILED;
    nAsk = nAsk < nMax ? nAsk : nMax;
    if (m_pBandwidth) nAsk = m_pBandwidth->ReadCap(nAsk);
    if (!InternetReadFile(hRequest, pBuffer, nAsk, pnRead)) {
        DebugFetchError("InternetReadFile", GetLastError());
        return m_request.IsAborted() ? FETCH_CANCELLED : FETCH_FAILED;
    }
    // Every transfer of the run draws on one budget; its wait ends on a cancel.
    if (m_pBandwidth && *pnRead > 0 && !m_pBandwidth->Take(*pnRead, m_request.AbortFlag())) return FETCH_CANCELLED;
    // After the budget's wait, so that a capped line never counts as a stall.
    if (*pnRead > 0) m_dwLastByte = timeGetTime();
    return FETCH_DONE;
}

// nBytes more came over the line; nDone of nTotal is the file bar's share.
void HttpFetcher::CountMoved(DWORD nBytes, uint64_t nDone, uint64_t nTotal) {
    m_nReceived += nBytes;
    OnBlock(nBytes);
    AfterBlock(nDone, nTotal);
}

// Speed sample and progress report after one block. Both time bases move by
// whole steps, so after a stall the reports catch up one per block.
void HttpFetcher::AfterBlock(uint64_t nLocal, uint64_t nFileSize) {
    if (net::StepDue(timeGetTime(), m_dwSpeedTick, net::kSpeedWindowMs)) {
        uint64_t nTotal = m_nReceived;
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
