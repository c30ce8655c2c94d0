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

class PeerConnection {
public:
    // pszVersion null: WinINet's default (HTTP/1.1); "HTTP/1.0" as the updater asks.
    bool Open(const char* pszHost, unsigned short nPort, const char* pszVersion = nullptr);
    // Each read asks only for what InternetQueryDataAvailable reports, as the updater does.
    void AskAvailableOnly() { m_bAskAvailable = true; }
    unsigned long long m_nReads = 0;
    unsigned long long m_nBytes = 0;
    // One GET; true for status 200 and a body the sink took whole.
    bool Get(const std::string& strPath, BodySink& sink, char* pBuffer);

private:
    fw::InternetHandle m_root;
    fw::InternetHandle m_connect;
    const char* m_pszVersion = nullptr;
    bool m_bAskAvailable = false;
};

// Milliseconds since an arbitrary start, from the performance counter.
double NowMs();

}  // namespace bench
