// A small HTTP server for tests: loopback only, on a free port, answering each
// path as its script says (bodies, error codes, chunked, cut, stalled,
// dripped, redirected, ranged, endless or silent), one script step per
// request. Each connection has its own thread (a bounded number at once) and
// HTTP/1.1 keep-alive; every wait in it is bounded and Stop ends them all
// within a fraction of a second, so a test that goes wrong still ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct Reply {
    enum Shape { kLength, kChunked, kCut, kStall, kDrip, kRedirect, kBlackHole, kStallAfter, kEndless, kRanged };

    static Reply Ok(std::string body);                      // 200, Content-Length, body
    static Reply Status(int nStatus);                       // a short error page
    static Reply Chunked(std::string body);                 // 200, chunked, no length
    static Reply Cut(std::string body, size_t nSent);       // full length announced, nSent sent, closed
    static Reply Stall(std::string body, unsigned nMs);     // headers, a pause, the body
    static Reply Drip(std::string body, size_t nPiece, unsigned nPauseMs);
    static Reply Redirect(std::string location);            // 302 to another path
    // 301, 302 or 307 with Location exactly as given: a path or a whole URL.
    static Reply RedirectTo(std::string location, int nStatus = 302);
    // Reads the request and never answers; the connection stays open until
    // the client leaves or the server stops.
    static Reply BlackHole();
    // Full length announced, nSent bytes of the body, nMs of silence, closed.
    static Reply StallAfter(std::string body, size_t nSent, unsigned nMs);
    // 200 with nAnnounced as Content-Length (none if empty), then bytes until
    // the client leaves, the announced length is reached or the server stops.
    static Reply Endless(std::optional<uint64_t> nAnnounced = std::nullopt);
    // A file that honours "Range: bytes=N-" (also N-M and -N) with 206 and
    // Content-Range when If-Range is absent or matches the ETag or the
    // Last-Modified text; otherwise 200 with the whole body. A range past the
    // end gets 416. etag is the header's value, quotes included.
    static Reply Ranged(std::string body, std::string etag = "\"v1\"",
                        std::string lastModified = "Wed, 02 Dec 2026 08:00:00 GMT");
    // The same reply with these header lines added ("ETag: \"v1\"", no CRLF).
    Reply Headers(std::vector<std::string> lines) const;
    // A ranged reply that lies: each span it sends starts nShift bytes after
    // the one asked for, and its Content-Range says so.
    Reply ShiftedRanges(size_t nShift) const;
    // A ranged reply that answers a request for several spans with 416, as
    // Varnish does (without it, several spans get 200 and the whole body).
    Reply RefusingSeveralRanges() const;

    Shape shape = kLength;
    int nStatus = 200;
    std::string body;
    size_t nCutAfter = 0;
    unsigned nStallMs = 0;
    size_t nPiece = 0;
    unsigned nPauseMs = 0;
    std::string location;
    std::vector<std::string> extraHeaders;
    std::optional<uint64_t> nAnnounced;
    std::string etag;
    std::string lastModified;
    size_t nRangeShift = 0;
    bool bRefuseSeveral = false;
};

// The path a static server takes from a request target: the query dropped,
// %XX decoded.
std::string StaticPath(const std::string& target);

// One request as the server read it.
struct ServedRequest {
    std::string line;                  // "GET /a/b HTTP/1.1"
    std::vector<std::string> headers;  // "Range: bytes=100-", as sent
    unsigned nConnection = 0;          // 1 for the first connection accepted, 2 for the next...
    std::chrono::steady_clock::time_point at;  // when its head was complete

    // The request target as sent ("/a/%E4%B8%AD?v=1").
    std::string Target() const;
    // The file a static server serves for it: no query, percent-decoded.
    std::string Path() const;
    // The value of the first header of that name (any case), "" if none.
    std::string Header(const std::string& name) const;
};

class ScriptedServer {
public:
    ScriptedServer() = default;
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Binds 127.0.0.1 on a free port and starts serving.
    bool Start();
    // Ends serving and joins every thread; pauses, drips, black holes and
    // endless bodies in progress are cut short.
    void Stop();
    unsigned short Port() const { return m_nPort; }

    // Scripts a path: a request target exactly as sent, else the file a static
    // server would serve for it (StaticPath); others get 404.
    void Script(const std::string& path, const Reply& reply);
    // The k-th request of the path gets replies[k], later ones the last.
    void Script(const std::string& path, std::vector<Reply> replies);
    // Request lines received so far ("GET /a/b HTTP/1.0"), in order of arrival.
    std::vector<std::string> RequestLines() const;
    // The same requests with their headers, connection and time.
    std::vector<ServedRequest> Requests() const;
    // Connections accepted so far.
    unsigned Connections() const { return m_nConnections; }

private:
    struct Connection {
        std::thread thread;
        std::atomic<bool> bDone{false};
    };
    struct PathScript {
        std::vector<Reply> replies;
        size_t nServed = 0;
    };

    void Serve();
    void ReapConnections(bool bAll);
    void Converse(uintptr_t sock, unsigned nConnection);
    bool ReadHead(uintptr_t sock, std::string* pPending, unsigned nWaitMs, ServedRequest* pRequest);
    bool Answer(uintptr_t sock, const ServedRequest& request, bool bKeepAlive);
    bool SendBody(uintptr_t sock, const Reply& r, const std::string& closing);
    bool SendRanged(uintptr_t sock, const Reply& r, const ServedRequest& request, const std::string& closing);
    void SendEndless(uintptr_t sock, const Reply& r);
    void AwaitClose(uintptr_t sock);
    bool SendAll(uintptr_t sock, const char* p, size_t n);
    bool SendText(uintptr_t sock, const std::string& text) { return SendAll(sock, text.data(), text.size()); }
    bool Pause(unsigned nMs);
    Reply Lookup(const ServedRequest& request);

    mutable std::mutex m_lock;
    std::map<std::string, PathScript> m_scripts;
    std::vector<ServedRequest> m_requests;
    std::list<std::unique_ptr<Connection>> m_connections;  // the serving thread's alone
    std::atomic<bool> m_bStop{false};
    std::atomic<unsigned> m_nConnections{0};
    std::thread m_thread;
    void* m_hStopEvent = nullptr;
    uintptr_t m_listen = ~uintptr_t(0);
    unsigned short m_nPort = 0;
    bool m_bWinsock = false;
};

// A loopback port on which nothing listens, so connecting to it is refused.
// It keeps the port bound (not listening) while it lives, so no server
// started meanwhile can take it.
class RefusedPort {
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    unsigned short Port() const { return m_nPort; }

private:
    uintptr_t m_sock = ~uintptr_t(0);
    unsigned short m_nPort = 0;
    bool m_bWinsock = false;
};

}  // namespace testsupport
