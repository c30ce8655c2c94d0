// One transfer slot's downloads, on the calling thread: a file whole (the rest
// of a kept part where there is one) or rebuilt from the installed copy's
// blocks. Each replaces its target only when the whole body has arrived and
// passed its check. The run keeps one fetcher per slot.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "net/FetchResult.h"
#include "net/HttpExchange.h"
#include "net/PartWriter.h"
#include "net/TransferEvents.h"
#include "net/WholeBody.h"

// One download: where it goes and what its body must be.
struct FileRequest {
    HINTERNET hConnect = nullptr;  // the server's connection (the run owns it)
    std::string strPath;           // the address on that server
    std::string strLocal;          // the target
    BodyCheck* pCheck = nullptr;   // nullptr: any body
    // The body changes under this address (the list, its signature), so every
    // cache on the way must check with the origin first.
    bool bRevalidate = false;
};

// How the last transfer went, for the run's routes and its log.
struct TransferReport {
    int nStatus = 0;          // the last HTTP status, 0: no answer came
    DWORD dwSendError = 0;    // the error of a send that failed, 0: none
    bool bResumed = false;    // the body continued a kept part
    uint64_t nMoved = 0;      // bytes that came over the line
    // No server's delta of this file is worth trying: the index itself was
    // refused (malformed, another size, not the signed one, too big for the
    // memory) or the installed copy's scan gave up.
    bool bDeltaHopeless = false;
};

class HttpFetcher {
public:
    // pEvents: where this slot's transfers report (nullptr: nowhere).
    explicit HttpFetcher(net::TransferEvents* pEvents = nullptr) : m_pEvents(pEvents) {}
    HttpFetcher(const HttpFetcher&) = delete;
    HttpFetcher& operator=(const HttpFetcher&) = delete;

    FetchResult Fetch(const net::TransferContext& context, const FileRequest& request);
    // Rebuilds the file from the blocks of the installed copy it replaces and
    // asks only for the spans that differ (several in one request where the
    // server answers multipart/byteranges; one a request where it answers
    // several with one, 416 or the whole file), led by the file's block index
    // at strIndexPath, which pIndexCheck judges. A server that answers a
    // single range with the whole file gets taken whole. Anything else amiss
    // fails with FETCH_NOT_FOUND (no index) or FETCH_REJECTED: the caller then
    // fetches the whole file. A cut transfer keeps its part, as Fetch does.
    FetchResult FetchDelta(const net::TransferContext& context, const FileRequest& request,
                           const std::string& strIndexPath, BodyCheck* pIndexCheck);
    const TransferReport& LastReport() const { return m_report; }

private:
    FetchResult FetchWhole(net::HttpExchange& exchange, net::DiskBudget* pDisk, const FileRequest& request,
                           net::TransferMeter& meter);
    FetchResult OpenForPart(net::HttpExchange& exchange, net::PartWriter& writer, const FileRequest& request,
                            net::BodyAnswer* pAnswer);
    FetchResult OpenChecked(net::HttpExchange& exchange, const FileRequest& request, uint64_t nHave,
                            const std::string& strValidator, net::BodyAnswer* pAnswer);
    void Report(const net::HttpExchange& exchange, const net::TransferMeter& meter);

    net::TransferEvents* m_pEvents;
    TransferReport m_report;
};
