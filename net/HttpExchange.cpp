// One transfer's requests; see HttpExchange.h.
#include "net/HttpExchange.h"

#include <mmsystem.h>

#include "framework/Mbcs.h"
#include "framework/SupportLog.h"
#include "net/RequestInfo.h"
#include "net/RequestShape.h"
#include "net/TransferMath.h"

namespace net {
namespace {

// Large enough to take what loopback or a fast line delivers per read.
constexpr DWORD kReadBufferSize = 256 * 1024;
// A redirect loop must not spin: more than this many fail the request.
constexpr int kMaxRedirects = 5;
// Kept connections: every slot of a run reuses its own connection.
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES;

bool IsRedirect(int nStatus) {
    return nStatus == 301 || nStatus == 302 || nStatus == 303 || nStatus == 307 || nStatus == 308;
}

FetchResult ResultOfStatus(int nStatus) {
    if (nStatus == 200 || nStatus == 206) return FETCH_DONE;
    if (nStatus >= 400 && nStatus < 500) return FETCH_NOT_FOUND;
    return FETCH_FAILED;
}

std::string WithSlashes(std::string strPath) {
    for (char& c : strPath) {
        if (c == '\\') c = '/';
    }
    return strPath;
}

}  // namespace

HttpExchange::HttpExchange(const TransferContext& context, HINTERNET hConnect)
    : m_context(context), m_hConnect(hConnect), m_request(*context.pCancel), m_dwBodyStart(timeGetTime()),
      m_dwLastByte(m_dwBodyStart) {}

HINTERNET HttpExchange::OpenRequest(HINTERNET hConnect, const std::string& strPath) {
    HINTERNET hRequest =
        HttpOpenRequestA(hConnect, "GET", strPath.c_str(), "HTTP/1.1", nullptr, nullptr, kRequestFlags, 0);
    if (hRequest == nullptr) {
        DebugFetchError("HttpOpenRequestA", GetLastError());
        return nullptr;
    }
    // A server that accepts and then says nothing must not hold the run: every
    // wait of this request (connecting, the answer, each read) ends at the limit.
    DWORD nLimit = m_context.nStallLimitMs;
    InternetSetOptionA(hRequest, INTERNET_OPTION_CONNECT_TIMEOUT, &nLimit, sizeof(nLimit));
    InternetSetOptionA(hRequest, INTERNET_OPTION_SEND_TIMEOUT, &nLimit, sizeof(nLimit));
    InternetSetOptionA(hRequest, INTERNET_OPTION_RECEIVE_TIMEOUT, &nLimit, sizeof(nLimit));
    return m_request.Adopt(hRequest) ? hRequest : nullptr;
}

// Servers that take only UTF-8 in a path (lighttpd as installed) refuse most
// GBK names with 400: such a request is made once more with the name's UTF-8 twin.
FetchResult HttpExchange::Send(const std::string& strRequestPath, const std::string& strHeaders) {
    const std::string strPath = WithSlashes(strRequestPath);
    FetchResult result = SendFollowing(strPath, strHeaders);
    if (m_nStatus != 400) return result;
    const std::string strTwin = Utf8TwinAddress(strPath, fw::Gbk936ToUtf8);
    if (strTwin.empty()) return result;
    m_request.Abandon();
    return SendFollowing(strTwin, strHeaders);
}

// A redirect to another server gets a connection of its own, so the run's
// later requests still go where the run sends them.
FetchResult HttpExchange::SendFollowing(std::string strPath, const std::string& strHeaders) {
    m_nStatus = 0;
    m_dwSendError = 0;
    HINTERNET hConnect = m_hConnect;
    for (int nHop = 0;; ++nHop) {
        HINTERNET hRequest = OpenRequest(hConnect, strPath);
        if (hRequest == nullptr) return FETCH_FAILED;
        if (!HttpSendRequestA(hRequest, strHeaders.empty() ? nullptr : strHeaders.c_str(),
                              static_cast<DWORD>(strHeaders.size()), nullptr, 0)) {
            m_dwSendError = GetLastError();
            DebugFetchError("HttpSendRequestA", m_dwSendError);
            return FETCH_FAILED;
        }
        m_dwLastByte = timeGetTime();
        m_nStatus = QueryStatus(hRequest);
        if (!IsRedirect(m_nStatus)) return ResultOfStatus(m_nStatus);
        if (nHop >= kMaxRedirects) {
            fw::LogFailure("GetFile: too many redirects");
            return FETCH_NOT_FOUND;
        }
        FetchResult result = FollowTo(hRequest, &strPath, &hConnect);
        if (result != FETCH_DONE) return result;
    }
}

// The redirect's target: a path on this server, or another server of the
// request's own scheme ("//host/path" included).
FetchResult HttpExchange::FollowTo(HINTERNET hRequest, std::string* pPath, HINTERNET* phConnect) {
    char szLocation[INTERNET_MAX_URL_LENGTH] = {};
    DWORD nLength = sizeof(szLocation) - 1;
    if (!HttpQueryInfoA(hRequest, HTTP_QUERY_LOCATION, szLocation, &nLength, nullptr)) return FETCH_NOT_FOUND;
    m_request.Abandon();
    if (szLocation[0] == '/' && szLocation[1] != '/') {
        *pPath = szLocation;
        return FETCH_DONE;
    }
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
    m_redirectConnect.Reset(
        InternetConnectA(m_context.hRoot, szHost, url.nPort, "", "", INTERNET_SERVICE_HTTP, 0, 0));
    if (!m_redirectConnect.IsValid()) return FETCH_FAILED;
    *phConnect = m_redirectConnect.Get();
    *pPath = szUrlPath[0] ? szUrlPath : "/";
    return FETCH_DONE;
}

bool HttpExchange::ContentLength(uint64_t* pnLength) const {
    HINTERNET hRequest = m_request.Handle();
    return hRequest && QueryContentLength(hRequest, pnLength);
}

std::string HttpExchange::Header(const char* pszName) const {
    HINTERNET hRequest = m_request.Handle();
    return hRequest ? QueryHeader(hRequest, pszName) : std::string();
}

std::string HttpExchange::Validator() const {
    HINTERNET hRequest = m_request.Handle();
    return hRequest ? QueryValidator(hRequest) : std::string();
}

void HttpExchange::BeginBody() {
    m_dwBodyStart = timeGetTime();
    m_nBodyBase = m_nReceived;
}

// How much the next read asks for. A synchronous read waits until its whole
// buffer is full, which on a slow line would hold back progress and a cancel
// for a long time; asking for what has arrived, or for what the rate so far
// brings within one read slice, keeps both going. False when the question
// itself waited out the stall limit: the read after it would wait as long
// again, and the limit counts from the last byte, not per call.
bool HttpExchange::ReadSize(DWORD* pnAsk) {
    const DWORD nElapsedMs = timeGetTime() - m_dwBodyStart;
    const uint64_t nBody = m_nReceived - m_nBodyBase;
    *pnAsk = kReadBufferSize;
    // A line that fills the whole buffer within one read slice needs no
    // question first: each question costs a call of its own.
    if (NextReadSize(1, nBody, nElapsedMs, kReadBufferSize) >= kReadBufferSize) return true;
    DWORD nAvailable = 0;
    if (!InternetQueryDataAvailable(m_request.Handle(), &nAvailable, 0, 0)) {
        DWORD dwError = GetLastError();
        const DWORD nLimit = m_context.nStallLimitMs;
        // The platform's timer may end a little early: a tenth of slack.
        if (timeGetTime() - m_dwLastByte >= nLimit - nLimit / 10) {
            DebugFetchError("InternetQueryDataAvailable", dwError);
            return false;
        }
        nAvailable = 0;
    }
    *pnAsk = NextReadSize(nAvailable, nBody, nElapsedMs, kReadBufferSize);
    return true;
}

FetchResult HttpExchange::Read(void* pBuffer, DWORD nMax, DWORD* pnRead) {
    *pnRead = 0;
    if (Cancelled()) return FETCH_CANCELLED;
    DWORD nAsk = 0;
    if (!ReadSize(&nAsk)) return Failed(FETCH_FAILED);
    nAsk = nAsk < nMax ? nAsk : nMax;
    BandwidthBudget* pBandwidth = m_context.pBandwidth;
    if (pBandwidth) nAsk = pBandwidth->ReadCap(nAsk);
    if (!InternetReadFile(m_request.Handle(), pBuffer, nAsk, pnRead)) {
        DebugFetchError("InternetReadFile", GetLastError());
        return Failed(FETCH_FAILED);
    }
    // Every transfer of the run draws on one budget; its wait ends on a cancel.
    if (pBandwidth && *pnRead > 0 && !pBandwidth->Take(*pnRead, *m_context.pCancel)) return FETCH_CANCELLED;
    // After the budget's wait, so that a capped line never counts as a stall.
    if (*pnRead > 0) m_dwLastByte = timeGetTime();
    m_nReceived += *pnRead;
    return FETCH_DONE;
}

}  // namespace net
