// The bench peers' fetch: the least WinINet asks for to move a body.
#include "bench/PeerHttp.h"

#include <cstdio>
#include <cstdlib>

namespace bench {

bool PeerConnection::Open(const char* pszHost, unsigned short nPort, const char* pszVersion, DWORD nMaxConns) {
    m_pszVersion = pszVersion;
    // The limit is the process's (a null handle): WinINet's default of 2 would
    // queue the other threads' requests behind two connections.
    if (nMaxConns > 0 &&
        !InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &nMaxConns, sizeof(nMaxConns)))
        fprintf(stderr, "InternetSetOption(MAX_CONNS_PER_SERVER) failed, error %lu\n", GetLastError());
    m_root.Reset(InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!m_root.IsValid()) return false;
    m_connect.Reset(InternetConnectA(m_root.Get(), pszHost, nPort, "", "", INTERNET_SERVICE_HTTP, 0, 0));
    return m_connect.IsValid();
}

bool PeerConnection::Get(const std::string& strPath, BodySink& sink, char* pBuffer, ReadCounts& counts) {
    fw::InternetHandle request(HttpOpenRequestA(m_connect.Get(), "GET", strPath.c_str(), m_pszVersion,
                                                nullptr, nullptr, INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request.IsValid() || !HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0)) {
        fprintf(stderr, "request for %s failed, error %lu\n", strPath.c_str(), GetLastError());
        return false;
    }
    char szStatus[16] = {};
    DWORD nLength = sizeof(szStatus);
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE, szStatus, &nLength, nullptr) ||
        atoi(szStatus) != 200) {
        fprintf(stderr, "%s: status %s\n", strPath.c_str(), szStatus);
        return false;
    }
    for (;;) {
        DWORD nWant = kPeerBufferSize, nAvailable = 0;
        if (m_bAskAvailable && InternetQueryDataAvailable(request.Get(), &nAvailable, 0, 0) && nAvailable > 0 &&
            nAvailable < nWant)
            nWant = nAvailable;
        DWORD nRead = 0;
        if (!InternetReadFile(request.Get(), pBuffer, nWant, &nRead)) return false;
        if (nRead == 0) return true;
        ++counts.m_nReads;
        counts.m_nBytes += nRead;
        if (!sink.Write(pBuffer, nRead)) return false;
    }
}

double NowMs() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

}  // namespace bench
