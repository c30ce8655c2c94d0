// A small HTTP server for tests: loopback only, on a free port, answering each
// path as its script says (bodies, error codes, chunked, cut, stalled,
// dripped, redirected). It serves one connection at a time on its own thread,
// and every wait in it is bounded, so a test that goes wrong still ends.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct Reply {
    enum Shape { kLength, kChunked, kCut, kStall, kDrip, kRedirect };

    static Reply Ok(std::string body);                      // 200, Content-Length, body
    static Reply Status(int nStatus);                       // a short error page
    static Reply Chunked(std::string body);                 // 200, chunked, no length
    static Reply Cut(std::string body, size_t nSent);       // full length announced, nSent sent
    static Reply Stall(std::string body, unsigned nMs);     // headers, a pause, the body
    static Reply Drip(std::string body, size_t nPiece, unsigned nPauseMs);
    static Reply Redirect(std::string location);            // 302 to another path

    Shape shape = kLength;
    int nStatus = 200;
    std::string body;
    size_t nCutAfter = 0;
    unsigned nStallMs = 0;
    size_t nPiece = 0;
    unsigned nPauseMs = 0;
    std::string location;
};

class ScriptedServer {
public:
    ScriptedServer() = default;
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Binds 127.0.0.1 on a free port and starts serving.
    bool Start();
    // Ends serving; a pause or drip in progress is cut short.
    void Stop();
    unsigned short Port() const { return m_nPort; }

    // Scripts a path (as it appears in the request line); others get 404.
    void Script(const std::string& path, const Reply& reply);
    // Request lines received so far ("GET /a/b HTTP/1.0").
    std::vector<std::string> RequestLines() const;

private:
    void Serve();
    void Answer(uintptr_t sock);
    bool ReadRequestLine(uintptr_t sock, std::string* pLine);
    bool SendAll(uintptr_t sock, const char* p, size_t n);
    bool Pause(unsigned nMs);
    Reply Lookup(const std::string& path) const;

    mutable std::mutex m_lock;
    std::map<std::string, Reply> m_scripts;
    std::vector<std::string> m_requestLines;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
    uintptr_t m_listen = ~uintptr_t(0);
    unsigned short m_nPort = 0;
    bool m_bWinsock = false;
};

}  // namespace testsupport
