// The slot's downloads: one GET into a part beside the target, which replaces
// the target only when the whole announced body has arrived and passed its check.
#include "net/HttpFetcher.h"

#include <new>

#include "framework/SupportLog.h"
#include "net/DeltaTransfer.h"
#include "net/RequestShape.h"
#include "net/TransferMath.h"
#include "net/WholeBody.h"

FetchResult HttpFetcher::Fetch(const net::TransferContext& context, const FileRequest& request) {
    fw::LogFormat("GetFile %.300s", request.strPath.c_str());
    m_report = TransferReport();
    net::TransferMeter meter(m_pEvents);
    net::HttpExchange exchange(context, request.hConnect);
    FetchResult result = FetchWhole(exchange, context.pDisk, request, meter);
    Report(exchange, meter);
    return result == FETCH_DONE ? result : exchange.Failed(result);
}

FetchResult HttpFetcher::FetchWhole(net::HttpExchange& exchange, net::DiskBudget* pDisk, const FileRequest& request,
                                    net::TransferMeter& meter) {
    meter.Begin(request.strLocal);
    net::PartWriter writer(request.strLocal, pDisk, request.pCheck);
    net::BodyAnswer answer;
    FetchResult result = OpenForPart(exchange, writer, request, &answer);
    if (result != FETCH_DONE) return result;
    if (request.pCheck && !request.pCheck->AcceptsLength(answer.nTotal)) return FETCH_REJECTED;
    meter.Size(answer.nTotal);
    m_report.bResumed = answer.nStart > 0;
    result = net::ReceiveWholeBody(exchange, writer, answer, meter);
    writer.After(result);
    if (result == FETCH_DONE) result = writer.Commit(exchange.CancelFlag());
    if (result == FETCH_DONE) meter.End(request.strLocal);
    return result;
}

// Asks for the rest of a kept part, or for the whole file. A part the server
// can't continue (416: the kept bytes already reach its end) is dropped and
// the whole file asked for at once.
FetchResult HttpFetcher::OpenForPart(net::HttpExchange& exchange, net::PartWriter& writer,
                                     const FileRequest& request, net::BodyAnswer* pAnswer) {
    std::string strValidator;
    uint64_t nHave = writer.Resumable(&strValidator);
    FetchResult result = OpenChecked(exchange, request, nHave, strValidator, pAnswer);
    if (nHave > 0 && exchange.Status() == 416 && !exchange.Cancelled()) {
        fw::LogLine("GetFile: the kept part can't be continued; fetching the whole file");
        writer.Discard();
        nHave = 0;
        result = OpenChecked(exchange, request, 0, std::string(), pAnswer);
    }
    // A transient failure leaves what arrived before for the next try.
    if (result != FETCH_DONE && nHave > 0) writer.After(exchange.Failed(result));
    return result;
}

// Opens and sends the request (asking for the rest of a kept body when there
// is one); the answer stays open only for a 200, or a 206 that continues the
// kept bytes, with a readable length the check allows.
FetchResult HttpFetcher::OpenChecked(net::HttpExchange& exchange, const FileRequest& request, uint64_t nHave,
                                     const std::string& strValidator, net::BodyAnswer* pAnswer) {
    std::string strHeaders = request.bRevalidate ? net::kRevalidateHeaders : "";
    if (nHave > 0) strHeaders += "Range: bytes=" + std::to_string(nHave) + "-\r\nIf-Range: " + strValidator + "\r\n";
    *pAnswer = net::BodyAnswer();
    FetchResult result = exchange.Send(request.strPath, strHeaders);
    const int nStatus = exchange.Status();
    if (result != FETCH_DONE) {
        if (nStatus == 407)
            fw::LogFailure("GetFile: HTTP 407, the proxy asks for credentials that the system doesn't supply");
        else if (nStatus != 0 && (result == FETCH_FAILED || result == FETCH_NOT_FOUND))
            fw::LogFailureFormat("GetFile: HTTP %d, no 200 answer", nStatus);
        return result;
    }
    uint64_t nLength = 0;
    if (!exchange.ContentLength(&nLength)) {
        fw::LogFailure("GetFile: no readable Content-Length");
        return FETCH_NOT_FOUND;
    }
    pAnswer->nTotal = nLength;
    if (nStatus == 206) {
        // Only the rest of the kept bytes will do; anything else starts over.
        uint64_t nStart = 0, nLast = 0, nTotal = 0;
        if (nHave == 0 || !net::ParseContentRange(exchange.Header("Content-Range").c_str(), &nStart, &nLast, &nTotal) ||
            nStart != nHave || nLast + 1 != nTotal || nTotal - nStart != nLength) {
            fw::LogFailure("GetFile: a range that doesn't continue the kept bytes");
            return FETCH_REJECTED;
        }
        pAnswer->nStart = nStart;
        pAnswer->nTotal = nTotal;
    }
    if (pAnswer->nTotal > (request.pCheck ? request.pCheck->MaxBytes() : UINT64_MAX)) {
        fw::LogFailure("GetFile: announced body longer than allowed");
        return FETCH_REJECTED;
    }
    pAnswer->strValidator = exchange.Validator();
    return FETCH_DONE;
}

FetchResult HttpFetcher::FetchDelta(const net::TransferContext& context, const FileRequest& request,
                                    const std::string& strIndexPath, BodyCheck* pIndexCheck) {
    fw::LogFormat("GetFile %.300s", request.strPath.c_str());
    m_report = TransferReport();
    net::TransferMeter meter(m_pEvents);
    net::HttpExchange exchange(context, request.hConnect);
    FetchResult result = FETCH_REJECTED;
    // Out of memory for the index or the scan: the whole file still comes.
    try {
        // Without the server's own memory, this transfer learns alone.
        std::atomic<bool> bAlone{false};
        net::DeltaTransfer delta(exchange, meter, context.pDisk, context.pSingleRanges ? *context.pSingleRanges : bAlone);
        result = delta.Run(request, strIndexPath, pIndexCheck);
        m_report.bDeltaHopeless = delta.Hopeless();
    } catch (const std::bad_alloc&) {
        fw::LogFailure("GetFile: no memory for a rebuilt download");
    }
    Report(exchange, meter);
    return result == FETCH_DONE ? result : exchange.Failed(result);
}

void HttpFetcher::Report(const net::HttpExchange& exchange, const net::TransferMeter& meter) {
    m_report.nStatus = exchange.Status();
    m_report.dwSendError = exchange.SendError();
    m_report.nMoved = meter.Received();
}
