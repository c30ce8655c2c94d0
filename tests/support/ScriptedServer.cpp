// The scripted loopback HTTP server for tests; see ScriptedServer.h.
#include "support/ScriptedServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>

namespace testsupport {
namespace {

constexpr unsigned kSliceMs = 20;          // granularity of every wait
constexpr unsigned kRequestWaitMs = 3000;  // a client that sends nothing is dropped
constexpr size_t kMaxRequest = 8192;

bool WaitReadable(SOCKET sock, unsigned nMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock, &set);
    timeval tv = {static_cast<long>(nMs / 1000), static_cast<long>((nMs % 1000) * 1000)};
    return select(0, &set, nullptr, nullptr, &tv) == 1;
}

std::string Header(int nStatus, const char* pszReason, const std::string& extra) {
    char szLine[64];
    snprintf(szLine, sizeof(szLine), "HTTP/1.1 %d %s\r\n", nStatus, pszReason);
    return szLine + extra + "Connection: close\r\n\r\n";
}

std::string LengthHeader(size_t n) {
    return "Content-Length: " + std::to_string(n) + "\r\n";
}

const char* Reason(int nStatus) {
    switch (nStatus) {
        case 200: return "OK";
        case 302: return "Found";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
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

Reply Reply::Redirect(std::string location) {
    Reply r;
    r.shape = kRedirect;
    r.nStatus = 302;
    r.location = std::move(location);
    return r;
}

ScriptedServer::~ScriptedServer() { Stop(); }

bool ScriptedServer::Start() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
    m_bWinsock = true;
    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock == INVALID_SOCKET) return false;
    m_listen = sock;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int nLen = sizeof(addr);
    if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(sock, 8) != 0 ||
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
    if (m_thread.joinable()) m_thread.join();
    if (m_listen != ~uintptr_t(0)) closesocket(static_cast<SOCKET>(m_listen));
    m_listen = ~uintptr_t(0);
    if (m_bWinsock) WSACleanup();
    m_bWinsock = false;
}

void ScriptedServer::Script(const std::string& path, const Reply& reply) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_scripts[path] = reply;
}

std::vector<std::string> ScriptedServer::RequestLines() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requestLines;
}

Reply ScriptedServer::Lookup(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_scripts.find(path);
    return it == m_scripts.end() ? Reply::Status(404) : it->second;
}

void ScriptedServer::Serve() {
    SOCKET listenSock = static_cast<SOCKET>(m_listen);
    while (!m_bStop) {
        if (!WaitReadable(listenSock, kSliceMs * 5)) continue;
        SOCKET sock = accept(listenSock, nullptr, nullptr);
        if (sock == INVALID_SOCKET) continue;
        Answer(sock);
        shutdown(sock, SD_SEND);
        closesocket(sock);
    }
}

bool ScriptedServer::ReadRequestLine(uintptr_t sockValue, std::string* pLine) {
    SOCKET sock = static_cast<SOCKET>(sockValue);
    std::string request;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestWaitMs);
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (m_bStop || request.size() > kMaxRequest || std::chrono::steady_clock::now() > deadline) return false;
        if (!WaitReadable(sock, kSliceMs)) continue;
        char buffer[1024];
        int n = recv(sock, buffer, sizeof(buffer), 0);
        if (n <= 0) return false;
        request.append(buffer, static_cast<size_t>(n));
    }
    *pLine = request.substr(0, request.find("\r\n"));
    return true;
}

bool ScriptedServer::SendAll(uintptr_t sockValue, const char* p, size_t n) {
    SOCKET sock = static_cast<SOCKET>(sockValue);
    while (n > 0 && !m_bStop) {
        int nSent = send(sock, p, static_cast<int>(n > 65536 ? 65536 : n), 0);
        if (nSent <= 0) return false;
        p += nSent;
        n -= static_cast<size_t>(nSent);
    }
    return n == 0;
}

// Sleeps in short slices; false when the server is stopping.
bool ScriptedServer::Pause(unsigned nMs) {
    for (unsigned nDone = 0; nDone < nMs && !m_bStop; nDone += kSliceMs) Sleep(kSliceMs);
    return !m_bStop;
}

void ScriptedServer::Answer(uintptr_t sock) {
    std::string line;
    if (!ReadRequestLine(sock, &line)) return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_requestLines.push_back(line);
    }
    size_t nStart = line.find(' ') + 1;
    std::string path = line.substr(nStart, line.find(' ', nStart) - nStart);
    const Reply r = Lookup(path);
    const std::string& body = r.body;
    std::string head;
    switch (r.shape) {
        case Reply::kChunked: {
            head = Header(200, "OK", "Transfer-Encoding: chunked\r\n");
            char szSize[16];
            snprintf(szSize, sizeof(szSize), "%lx\r\n", static_cast<unsigned long>(body.size()));
            std::string all = head + szSize + body + "\r\n0\r\n\r\n";
            SendAll(sock, all.data(), all.size());
            return;
        }
        case Reply::kRedirect:
            head = Header(302, "Found", "Location: " + r.location + "\r\n" + LengthHeader(0));
            SendAll(sock, head.data(), head.size());
            return;
        default:
            break;
    }
    head = Header(r.nStatus, Reason(r.nStatus), LengthHeader(body.size()));
    if (!SendAll(sock, head.data(), head.size())) return;
    if (r.shape == Reply::kCut) {
        SendAll(sock, body.data(), r.nCutAfter < body.size() ? r.nCutAfter : body.size());
    } else if (r.shape == Reply::kStall) {
        if (Pause(r.nStallMs)) SendAll(sock, body.data(), body.size());
    } else if (r.shape == Reply::kDrip) {
        for (size_t i = 0; i < body.size() && !m_bStop; i += r.nPiece) {
            size_t n = body.size() - i < r.nPiece ? body.size() - i : r.nPiece;
            if (!SendAll(sock, body.data() + i, n) || !Pause(r.nPauseMs)) return;
        }
    } else {
        SendAll(sock, body.data(), body.size());
    }
}

}  // namespace testsupport
