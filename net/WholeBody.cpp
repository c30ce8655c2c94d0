// A whole body into its part; see WholeBody.h.
#include "net/WholeBody.h"

#include <memory>
#include <new>

#include "framework/SupportLog.h"

namespace net {
namespace {

constexpr DWORD kBufferBytes = 256 * 1024;

FetchResult ReadToEnd(HttpExchange& exchange, PartWriter& writer, const BodyAnswer& answer, TransferMeter& meter) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBufferBytes]);
    if (!buffer) return FETCH_FAILED;
    FetchResult result = FETCH_DONE;
    uint64_t nLocal = answer.nStart;
    exchange.BeginBody();
    while (result == FETCH_DONE && !exchange.Cancelled()) {
        DWORD nRead = 0;
        result = exchange.Read(buffer.get(), kBufferBytes, &nRead);
        if (result != FETCH_DONE || nRead == 0) break;
        if (nRead > answer.nTotal - nLocal) {
            fw::LogFailure("GetFile: body longer than Content-Length");
            result = FETCH_REJECTED;
            break;
        }
        result = writer.Write(buffer.get(), nRead);
        if (result != FETCH_DONE) break;
        nLocal += nRead;
        meter.Moved(nRead, nLocal, answer.nTotal);
    }
    meter.Progress(nLocal, answer.nTotal);
    if (exchange.Cancelled()) return FETCH_CANCELLED;
    if (result == FETCH_DONE && nLocal != answer.nTotal) {
        fw::LogFailure("GetFile: body shorter than Content-Length");
        result = FETCH_FAILED;
    }
    return result;
}

}  // namespace

FetchResult ReceiveWholeBody(HttpExchange& exchange, PartWriter& writer, const BodyAnswer& answer,
                             TransferMeter& meter) {
    if (!writer.Reserve(answer.nTotal - answer.nStart)) return FETCH_DISK_FULL;
    FetchResult result = writer.Open(answer.nStart, exchange.CancelFlag());
    if (result != FETCH_DONE) return result;
    // Noted before the first byte: a kill at any moment leaves a part to resume.
    writer.NoteForResume(answer.strValidator, answer.nTotal);
    result = ReadToEnd(exchange, writer, answer, meter);
    if (result != FETCH_DONE) return result;
    exchange.Close();
    return writer.Accept();
}

}  // namespace net
