// The scripted loopback HTTP server for tests; see ScriptedServer.h.
#include "support/ScriptedServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kSliceMs = 20;             // granularity of every socket wait
constexpr unsigned kRequestWaitMs = 3000;     // a new client that sends nothing is dropped
constexpr unsigned kKeepAliveIdleMs = 10000;  // an idle kept-alive connection is closed
constexpr unsigned kSendWaitMs = 30000;       // a client that reads nothing this long is dropped
constexpr unsigned kForeverMs = 120000;       // "never" and "endless" end here at the latest
constexpr size_t kMaxHead = 16384;
constexpr size_t kMaxConnections = 64;        // 16 parallel transfers and stale pooled ones

bool WaitReadable(SOCKET sock, unsigned nMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock, &set);
    timeval tv = {static_cast<long>(nMs / 1000), static_cast<long>((nMs % 1000) * 1000)};
    return select(0, &set, nullptr, nullptr, &tv) == 1;
}

void WaitWritable(SOCKET sock, unsigned nMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock, &set);
    timeval tv = {static_cast<long>(nMs / 1000), static_cast<long>((nMs % 1000) * 1000)};
    select(0, nullptr, &set, nullptr, &tv);
}

bool Expired(Clock::time_point deadline) { return Clock::now() > deadline; }

Clock::time_point After(unsigned nMs) { return Clock::now() + std::chrono::milliseconds(nMs); }

const char* Reason(int nStatus) {
    switch (nStatus) {
        case 200: return "OK";
        case 206: return "Partial Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 307: return "Temporary Redirect";
        case 404: return "Not Found";
        case 416: return "Range Not Satisfiable";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

// The status line, the shape's own headers, the script's extra ones and the
// connection's fate.
std::string Head(int nStatus, const std::string& own, const Reply& r, const std::string& closing) {
    char szLine[64];
    snprintf(szLine, sizeof(szLine), "HTTP/1.1 %d %s\r\n", nStatus, Reason(nStatus));
    std::string head = szLine + own;
    for (const std::string& line : r.extraHeaders) head += line + "\r\n";
    return head + closing + "\r\n";
}

std::string LengthHeader(uint64_t n) { return "Content-Length: " + std::to_string(n) + "\r\n"; }

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

bool WantsKeepAlive(const ServedRequest& request) {
    const std::string& line = request.line;
    if (line.size() < 8 || line.compare(line.size() - 8, 8, "HTTP/1.1") != 0) return false;
    return !SameText(request.Header("Connection"), "close");
}

enum class RangeAsked { kWhole, kPart, kUnsatisfiable };

// One "bytes=" range against a body of nSize bytes; anything else is ignored,
// as a server that does not understand a range sends the whole body.
RangeAsked ParseRange(const std::string& value, size_t nSize, size_t* pFrom, size_t* pTo) {
    if (value.compare(0, 6, "bytes=") != 0 || value.find(',') != std::string::npos) return RangeAsked::kWhole;
    std::string strRange = value.substr(6);
    size_t nDash = strRange.find('-');
    if (nDash == std::string::npos) return RangeAsked::kWhole;
    std::string first = strRange.substr(0, nDash);
    std::string last = strRange.substr(nDash + 1);
    if (first.empty()) {
        if (last.empty()) return RangeAsked::kWhole;
        size_t nSuffix = strtoul(last.c_str(), nullptr, 10);
        if (nSuffix == 0 || nSize == 0) return RangeAsked::kUnsatisfiable;
        *pFrom = nSuffix >= nSize ? 0 : nSize - nSuffix;
        *pTo = nSize - 1;
        return RangeAsked::kPart;
    }
    *pFrom = strtoul(first.c_str(), nullptr, 10);
    if (*pFrom >= nSize) return RangeAsked::kUnsatisfiable;
    size_t nLast = last.empty() ? nSize - 1 : strtoul(last.c_str(), nullptr, 10);
    if (nLast < *pFrom) return RangeAsked::kWhole;
    *pTo = nLast >= nSize ? nSize - 1 : nLast;
    return RangeAsked::kPart;
}

}  // namespace

Reply Reply::Ok(std::string body) {
    Reply r;
    r.body = std::move(body);
    return r;
}

Reply Reply::Status(int nStatus) {
    Reply r;
    r.nStatus = nStatus;
    r.body = "<html>" + std::to_string(nStatus) + "</html>";
    return r;
}

Reply Reply::Chunked(std::string body) {
    Reply r = Ok(std::move(body));
    r.shape = kChunked;
    return r;
}

Reply Reply::Cut(std::string body, size_t nSent) {
    Reply r = Ok(std::move(body));
    r.shape = kCut;
    r.nCutAfter = nSent;
    return r;
}

Reply Reply::Stall(std::string body, unsigned nMs) {
    Reply r = Ok(std::move(body));
    r.shape = kStall;
    r.nStallMs = nMs;
    return r;
}

Reply Reply::Drip(std::string body, size_t nPiece, unsigned nPauseMs) {
    Reply r = Ok(std::move(body));
    r.shape = kDrip;
    r.nPiece = nPiece == 0 ? 1 : nPiece;
    r.nPauseMs = nPauseMs;
    return r;
}

Reply Reply::Redirect(std::string location) { return RedirectTo(std::move(location), 302); }

Reply Reply::RedirectTo(std::string location, int nStatus) {
    Reply r;
    r.shape = kRedirect;
    r.nStatus = nStatus;
    r.location = std::move(location);
    return r;
}

Reply Reply::BlackHole() {
    Reply r;
    r.shape = kBlackHole;
    return r;
}

Reply Reply::StallAfter(std::string body, size_t nSent, unsigned nMs) {
    Reply r = Cut(std::move(body), nSent);
    r.shape = kStallAfter;
    r.nStallMs = nMs;
    return r;
}

Reply Reply::Endless(std::optional<uint64_t> nAnnounced) {
    Reply r;
    r.shape = kEndless;
    r.nAnnounced = nAnnounced;
    return r;
}

Reply Reply::Ranged(std::string body, std::string etag, std::string lastModified) {
    Reply r = Ok(std::move(body));
    r.shape = kRanged;
    r.etag = std::move(etag);
    r.lastModified = std::move(lastModified);
    return r;
}

Reply Reply::Headers(std::vector<std::string> lines) const {
    Reply r = *this;
    r.extraHeaders.insert(r.extraHeaders.end(), lines.begin(), lines.end());
    return r;
}

Reply Reply::ShiftedRanges(size_t nShift) const {
    Reply r = *this;
    r.nRangeShift = nShift;
    return r;
}

Reply Reply::RefusingSeveralRanges() const {
    Reply r = *this;
    r.bRefuseSeveral = true;
    return r;
}

std::string StaticPath(const std::string& target) {
    std::string path;
    for (size_t i = 0; i < target.size() && target[i] != '?'; ++i) {
        if (target[i] == '%' && i + 2 < target.size() && isxdigit(static_cast<unsigned char>(target[i + 1])) &&
            isxdigit(static_cast<unsigned char>(target[i + 2]))) {
            path += static_cast<char>(std::stoi(target.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += target[i];
        }
    }
    return path;
}

std::string ServedRequest::Path() const { return StaticPath(Target()); }

std::string ServedRequest::Target() const {
    size_t nStart = line.find(' ');
    if (nStart == std::string::npos) return std::string();
    ++nStart;
    size_t nEnd = line.find(' ', nStart);
    return line.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
}

std::string ServedRequest::Header(const std::string& name) const {
    for (const std::string& h : headers) {
        size_t nColon = h.find(':');
        if (nColon == std::string::npos || !SameText(h.substr(0, nColon), name)) continue;
        size_t nValue = h.find_first_not_of(" \t", nColon + 1);
        return nValue == std::string::npos ? std::string() : h.substr(nValue);
    }
    return std::string();
}

ScriptedServer::~ScriptedServer() { Stop(); }

bool ScriptedServer::Start() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
    m_bWinsock = true;
    if (!m_hStopEvent) m_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!m_hStopEvent) return false;
    ResetEvent(m_hStopEvent);
    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock == INVALID_SOCKET) return false;
    m_listen = sock;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int nLen = sizeof(addr);
    if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(sock, SOMAXCONN) != 0 ||
        getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0) {
        return false;
    }
    m_nPort = ntohs(addr.sin_port);
    m_bStop = false;
    m_thread = std::thread(&ScriptedServer::Serve, this);
    return true;
}

void ScriptedServer::Stop() {
    m_bStop = true;
    if (m_hStopEvent) SetEvent(m_hStopEvent);
    if (m_thread.joinable()) m_thread.join();
    if (m_listen != ~uintptr_t(0)) closesocket(static_cast<SOCKET>(m_listen));
    m_listen = ~uintptr_t(0);
    if (m_bWinsock) WSACleanup();
    m_bWinsock = false;
    if (m_hStopEvent) CloseHandle(m_hStopEvent);
    m_hStopEvent = nullptr;
}

void ScriptedServer::Script(const std::string& path, const Reply& reply) { Script(path, std::vector<Reply>{reply}); }

void ScriptedServer::Script(const std::string& path, std::vector<Reply> replies) {
    std::lock_guard<std::mutex> lock(m_lock);
    PathScript& script = m_scripts[path];
    script.replies = std::move(replies);
    script.nServed = 0;
}

std::vector<std::string> ScriptedServer::RequestLines() const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<std::string> lines;
    for (const ServedRequest& r : m_requests) lines.push_back(r.line);
    return lines;
}

std::vector<ServedRequest> ScriptedServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

// The path's next step; an empty script answers like an unscripted path.
Reply ScriptedServer::Lookup(const ServedRequest& request) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_scripts.find(request.Target());
    if (it == m_scripts.end()) it = m_scripts.find(request.Path());
    if (it == m_scripts.end() || it->second.replies.empty()) return Reply::Status(404);
    PathScript& script = it->second;
    size_t nStep = script.nServed < script.replies.size() ? script.nServed : script.replies.size() - 1;
    ++script.nServed;
    return script.replies[nStep];
}

void ScriptedServer::Serve() {
    SOCKET listenSock = static_cast<SOCKET>(m_listen);
    while (!m_bStop) {
        ReapConnections(false);
        // At the bound, later clients wait in the backlog until one leaves.
        if (m_connections.size() >= kMaxConnections) {
            WaitForSingleObject(m_hStopEvent, kSliceMs);
            continue;
        }
        if (!WaitReadable(listenSock, kSliceMs * 5)) continue;
        SOCKET sock = accept(listenSock, nullptr, nullptr);
        if (sock == INVALID_SOCKET) continue;
        // Non-blocking, so that a send to a client that reads nothing waits in
        // bounded slices like everything else.
        u_long nNonBlocking = 1;
        ioctlsocket(sock, FIONBIO, &nNonBlocking);
        unsigned nConnection = ++m_nConnections;
        auto connection = std::make_unique<Connection>();
        Connection* pConnection = connection.get();
        try {
            connection->thread = std::thread([this, sock, nConnection, pConnection] {
                Converse(sock, nConnection);
                pConnection->bDone = true;
            });
        } catch (...) {
            // No thread to serve it: the client sees the connection closed.
            closesocket(sock);
            continue;
        }
        m_connections.push_back(std::move(connection));
    }
    ReapConnections(true);
}

void ScriptedServer::ReapConnections(bool bAll) {
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (bAll || (*it)->bDone) {
            (*it)->thread.join();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

// One connection: requests one after another while both sides keep it alive.
void ScriptedServer::Converse(uintptr_t sockValue, unsigned nConnection) {
    SOCKET sock = static_cast<SOCKET>(sockValue);
    std::string pending;
    unsigned nWaitMs = kRequestWaitMs;
    for (;;) {
        ServedRequest request;
        request.nConnection = nConnection;
        if (!ReadHead(sock, &pending, nWaitMs, &request)) break;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_requests.push_back(request);
        }
        if (!Answer(sock, request, WantsKeepAlive(request))) break;
        nWaitMs = kKeepAliveIdleMs;
    }
    shutdown(sock, SD_SEND);
    closesocket(sock);
}

// Reads up to the blank line that ends a request head; bytes after it stay in
// *pPending for the next request.
bool ScriptedServer::ReadHead(uintptr_t sockValue, std::string* pPending, unsigned nWaitMs,
                              ServedRequest* pRequest) {
    SOCKET sock = static_cast<SOCKET>(sockValue);
    std::string& data = *pPending;
    auto deadline = After(nWaitMs);
    size_t nEnd;
    while ((nEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (m_bStop || data.size() > kMaxHead || Expired(deadline)) return false;
        if (!WaitReadable(sock, kSliceMs)) continue;
        char buffer[4096];
        int n = recv(sock, buffer, sizeof(buffer), 0);
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (n <= 0) return false;
        data.append(buffer, static_cast<size_t>(n));
    }
    pRequest->at = Clock::now();
    std::string head = data.substr(0, nEnd + 2);
    data.erase(0, nEnd + 4);
    size_t nLineEnd = head.find("\r\n");
    pRequest->line = head.substr(0, nLineEnd);
    for (size_t nStart = nLineEnd + 2; nStart < head.size();) {
        size_t nNext = head.find("\r\n", nStart);
        pRequest->headers.push_back(head.substr(nStart, nNext - nStart));
        nStart = nNext + 2;
    }
    return true;
}

// Sends the path's reply; true when the connection may carry another request.
bool ScriptedServer::Answer(uintptr_t sock, const ServedRequest& request, bool bKeepAlive) {
    const Reply r = Lookup(request);
    const std::string closing = bKeepAlive ? "" : "Connection: close\r\n";
    switch (r.shape) {
        case Reply::kBlackHole:
            AwaitClose(sock);
            return false;
        case Reply::kEndless:
            SendEndless(sock, r);
            return false;
        case Reply::kRanged:
            return SendRanged(sock, r, request, closing) && bKeepAlive;
        case Reply::kChunked: {
            char szSize[24];
            snprintf(szSize, sizeof(szSize), "%lx\r\n", static_cast<unsigned long>(r.body.size()));
            std::string all = Head(200, "Transfer-Encoding: chunked\r\n", r, closing);
            if (!r.body.empty()) all += szSize + r.body + "\r\n";
            all += "0\r\n\r\n";
            return SendText(sock, all) && bKeepAlive;
        }
        case Reply::kRedirect:
            return SendText(sock, Head(r.nStatus, "Location: " + r.location + "\r\n" + LengthHeader(0), r, closing)) &&
                   bKeepAlive;
        default:
            return SendBody(sock, r, closing) && bKeepAlive;
    }
}

// The shapes that announce the whole length: plain, cut, stalled, dripped.
// A cut or a stall-after never completes, so its connection closes after it.
bool ScriptedServer::SendBody(uintptr_t sock, const Reply& r, const std::string& closing) {
    const std::string& body = r.body;
    if (!SendText(sock, Head(r.nStatus, LengthHeader(body.size()), r, closing))) return false;
    size_t nCut = r.nCutAfter < body.size() ? r.nCutAfter : body.size();
    switch (r.shape) {
        case Reply::kCut:
            SendAll(sock, body.data(), nCut);
            return false;
        case Reply::kStallAfter:
            if (SendAll(sock, body.data(), nCut)) Pause(r.nStallMs);
            return false;
        case Reply::kStall:
            return Pause(r.nStallMs) && SendText(sock, body);
        case Reply::kDrip:
            for (size_t i = 0; i < body.size(); i += r.nPiece) {
                size_t n = body.size() - i < r.nPiece ? body.size() - i : r.nPiece;
                if (!SendAll(sock, body.data() + i, n)) return false;
                if (i + n < body.size() && !Pause(r.nPauseMs)) return false;
            }
            return true;
        default:
            return SendText(sock, body);
    }
}

bool ScriptedServer::SendRanged(uintptr_t sock, const Reply& r, const ServedRequest& request,
                                const std::string& closing) {
    const std::string& body = r.body;
    std::string own = "Accept-Ranges: bytes\r\nETag: " + r.etag + "\r\nLast-Modified: " + r.lastModified + "\r\n";
    std::string range = request.Header("Range");
    std::string ifRange = request.Header("If-Range");
    bool bSameFile = ifRange.empty() || ifRange == r.etag || ifRange == r.lastModified;
    size_t nFrom = 0, nTo = 0;
    RangeAsked asked = range.empty() || !bSameFile ? RangeAsked::kWhole : ParseRange(range, body.size(), &nFrom, &nTo);
    if (r.bRefuseSeveral && range.find(',') != std::string::npos) asked = RangeAsked::kUnsatisfiable;
    if (asked == RangeAsked::kUnsatisfiable) {
        own += "Content-Range: bytes */" + std::to_string(body.size()) + "\r\n" + LengthHeader(0);
        return SendText(sock, Head(416, own, r, closing));
    }
    if (asked == RangeAsked::kWhole) return SendText(sock, Head(200, own + LengthHeader(body.size()), r, closing) + body);
    size_t nLength = nTo - nFrom + 1;
    if (r.nRangeShift > 0 && nTo + r.nRangeShift < body.size()) {
        nFrom += r.nRangeShift;
        nTo += r.nRangeShift;
    }
    own += "Content-Range: bytes " + std::to_string(nFrom) + "-" + std::to_string(nTo) + "/" +
           std::to_string(body.size()) + "\r\n" + LengthHeader(nLength);
    return SendText(sock, Head(206, own, r, closing)) && SendAll(sock, body.data() + nFrom, nLength);
}

// Without a length the body ends only when the connection does, so say so.
void ScriptedServer::SendEndless(uintptr_t sock, const Reply& r) {
    std::string own = r.nAnnounced ? LengthHeader(*r.nAnnounced) : "Connection: close\r\n";
    if (!SendText(sock, Head(200, own, r, ""))) return;
    std::string piece(65536, '\0');
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>('a' + i % 26);
    uint64_t nLeft = r.nAnnounced ? *r.nAnnounced : ~uint64_t(0);
    auto deadline = After(kForeverMs);
    while (nLeft > 0 && !Expired(deadline)) {
        size_t n = nLeft < piece.size() ? static_cast<size_t>(nLeft) : piece.size();
        if (!SendAll(sock, piece.data(), n)) return;
        nLeft -= n;
    }
}

// Reads and drops whatever comes until the client leaves or the server stops.
void ScriptedServer::AwaitClose(uintptr_t sockValue) {
    SOCKET sock = static_cast<SOCKET>(sockValue);
    auto deadline = After(kForeverMs);
    while (!m_bStop && !Expired(deadline)) {
        if (!WaitReadable(sock, kSliceMs)) continue;
        char buffer[4096];
        int n = recv(sock, buffer, sizeof(buffer), 0);
        if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) return;
    }
}

bool ScriptedServer::SendAll(uintptr_t sockValue, const char* p, size_t n) {
    SOCKET sock = static_cast<SOCKET>(sockValue);
    auto deadline = After(kSendWaitMs);
    while (n > 0) {
        if (m_bStop || Expired(deadline)) return false;
        int nSent = send(sock, p, static_cast<int>(n > 65536 ? 65536 : n), 0);
        if (nSent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            WaitWritable(sock, kSliceMs);
            continue;
        }
        if (nSent <= 0) return false;
        p += nSent;
        n -= static_cast<size_t>(nSent);
        deadline = After(kSendWaitMs);
    }
    return true;
}

// Waits on the stop event; false when the server is stopping.
bool ScriptedServer::Pause(unsigned nMs) {
    return !m_bStop && WaitForSingleObject(m_hStopEvent, nMs) == WAIT_TIMEOUT;
}

RefusedPort::RefusedPort() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
    m_bWinsock = true;
    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock == INVALID_SOCKET) return;
    m_sock = sock;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int nLen = sizeof(addr);
    if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &nLen) == 0) {
        m_nPort = ntohs(addr.sin_port);
    }
}

RefusedPort::~RefusedPort() {
    if (m_sock != ~uintptr_t(0)) closesocket(static_cast<SOCKET>(m_sock));
    if (m_bWinsock) WSACleanup();
}

}  // namespace testsupport
