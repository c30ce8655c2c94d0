// The bench peers' HTTP side: one connection handle, plain GETs through
// WinINet's defaults, each body handed to a sink in large reads.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "framework/Handles.h"

namespace bench {

// Large enough that a read never limits loopback throughput.
constexpr DWORD kPeerBufferSize = 256 * 1024;

class BodySink {
public:
    virtual ~BodySink() = default;
    virtual bool Write(const char* p, DWORD n) = 0;
};

// What the reads of one thread moved, kept per thread so none is shared.
struct ReadCounts {
    unsigned long long m_nReads = 0;
    unsigned long long m_nBytes = 0;
};

// One connect handle; Get may run on several threads at once.
class PeerConnection {
public:
    // pszVersion null: WinINet's default (HTTP/1.1); "HTTP/1.0" as the updater asks.
    // nMaxConns > 0 raises WinINet's per-server connection limit to it.
    bool Open(const char* pszHost, unsigned short nPort, const char* pszVersion = nullptr, DWORD nMaxConns = 0);
    // Each read asks only for what InternetQueryDataAvailable reports, as the updater does.
    void AskAvailableOnly() { m_bAskAvailable = true; }
    // One GET; true for status 200 and a body the sink took whole.
    bool Get(const std::string& strPath, BodySink& sink, char* pBuffer, ReadCounts& counts);

private:
    fw::InternetHandle m_root;
    fw::InternetHandle m_connect;
    const char* m_pszVersion = nullptr;
    bool m_bAskAvailable = false;
};

// Milliseconds since an arbitrary start, from the performance counter.
double NowMs();

}  // namespace bench
