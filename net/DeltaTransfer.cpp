// A download rebuilt from the installed copy's blocks; see DeltaTransfer.h.
#include "net/DeltaTransfer.h"

#include <mmsystem.h>

#include <new>

#include "framework/SupportLog.h"
#include "net/DeltaMemory.h"
#include "net/RequestInfo.h"
#include "net/TransferMath.h"
#include "net/WholeBody.h"

namespace net {
namespace {

// Spans asked for in one request where the server answers multipart: the
// header stays short, and a run of changes costs a round trip per batch.
const size_t kRangesPerRequest = 64;
const DWORD kBufferBytes = 256 * 1024;

size_t Smaller(uint64_t a, size_t b) { return a < b ? static_cast<size_t>(a) : b; }

}  // namespace

DeltaTransfer::DeltaTransfer(HttpExchange& exchange, TransferMeter& meter, DiskBudget* pDisk,
                             std::atomic<bool>& bSingleRanges)
    : m_exchange(exchange), m_meter(meter), m_bSingleRanges(bSingleRanges), m_pDisk(pDisk) {}

FetchResult DeltaTransfer::Run(const FileRequest& request, const std::string& strIndexPath, BodyCheck* pIndexCheck) {
    m_strLocal = request.strLocal;
    m_strPath = request.strPath;
    m_pCheck = request.pCheck;
    m_pWriter.reset(new PartWriter(m_strLocal, m_pDisk, m_pCheck));
    m_meter.Begin(m_strLocal);
    m_buffer.reset(new (std::nothrow) char[kBufferBytes]);
    if (!m_buffer) return FETCH_FAILED;
    FetchResult result = FetchIndex(strIndexPath, pIndexCheck);
    if (result == FETCH_DONE) result = ScanOldFile();
    if (result == FETCH_DONE) result = StartPart();
    if (result == FETCH_DONE) result = Rebuild();
    if (result == FETCH_DONE && !m_bTakenWhole) {
        m_exchange.Close();
        result = m_pWriter->Accept();
    }
    m_pWriter->After(result);
    if (result != FETCH_DONE) return result;
    m_old.Reset();
    result = m_pWriter->Commit(m_exchange.CancelFlag());
    if (result == FETCH_DONE) m_meter.End(m_strLocal);
    return result;
}

// The index, whole, into memory: it is small (12 bytes a block).
FetchResult DeltaTransfer::FetchIndex(const std::string& strPath, BodyCheck* pIndexCheck) {
    FetchResult result = m_exchange.Send(strPath, std::string());
    if (result != FETCH_DONE) return result;
    uint64_t nLength = 0;
    if (m_exchange.Status() != 200 || !m_exchange.ContentLength(&nLength)) {
        fw::LogFailure("GetFile: no block index");
        return FETCH_NOT_FOUND;
    }
    if (nLength > BLOCK_INDEX_MAX_BYTES || (pIndexCheck && !pIndexCheck->AcceptsLength(nLength))) {
        fw::LogFailure("GetFile: a block index of a size no index of ours has");
        m_bHopeless = true;
        return FETCH_NOT_FOUND;
    }
    // Beyond what the process's deltas may hold: the whole file, at once.
    if (!m_memory.Take(DeltaMemoryFor(nLength), false, m_exchange.CancelFlag())) {
        fw::LogFailure("GetFile: no room in the delta memory for this block index");
        m_bHopeless = true;
        return FETCH_NOT_FOUND;
    }
    std::string strText(static_cast<size_t>(nLength), '\0');
    result = ReadIndex(nLength, strText);
    if (result != FETCH_DONE) return result;
    m_exchange.Close();
    // From here on a refusal is the index's own fault, not the server's.
    result = AcceptIndex(strText, pIndexCheck);
    m_bHopeless = result != FETCH_DONE;
    return result;
}

FetchResult DeltaTransfer::ReadIndex(uint64_t nLength, std::string& strText) {
    m_nMoved = m_nToMove = nLength;
    for (size_t nHave = 0; nHave < strText.size();) {
        DWORD nRead = 0;
        FetchResult result =
            m_exchange.Read(&strText[nHave], static_cast<DWORD>(Smaller(nLength - nHave, kBufferBytes)), &nRead);
        if (result != FETCH_DONE) return result;
        if (nRead == 0) return FETCH_FAILED;
        nHave += nRead;
        // The bar starts once the spans to fetch are known.
        m_meter.Moved(nRead, 0, 1);
    }
    return FETCH_DONE;
}

FetchResult DeltaTransfer::AcceptIndex(const std::string& strText, BodyCheck* pIndexCheck) {
    if (pIndexCheck) {
        pIndexCheck->Begin();
        pIndexCheck->Update(strText.data(), strText.size());
        if (!pIndexCheck->Accept()) return FETCH_REJECTED;
    }
    std::string strWhy;
    if (!ParseBlockIndex(strText.data(), strText.size(), m_index, strWhy)) {
        fw::LogFailure(("GetFile: block index refused: " + strWhy).c_str());
        return FETCH_REJECTED;
    }
    return CheckIndexSize();
}

// The publisher sizes blocks by the file's size, so any other block size is
// no index of ours, and one whose file would not fit the disk is taken for a
// damaged one: the whole file's own answer then says whether the disk is full.
FetchResult DeltaTransfer::CheckIndexSize() {
    const uint64_t nSize = m_index.nFileSize;
    if (m_index.nBlockSize != BlockSizeFor(nSize) || (m_pCheck && !m_pCheck->AcceptsLength(nSize))) {
        fw::LogFailure("GetFile: a block index for another size of the file");
        return FETCH_REJECTED;
    }
    if (!PartFile::HasRoomFor(m_strLocal, nSize)) {
        fw::LogFailure("GetFile: a block index for a file larger than the free space");
        return FETCH_REJECTED;
    }
    m_meter.Size(nSize);
    return FETCH_DONE;
}

bool DeltaTransfer::ReadOld(uint64_t nOffset, void* p, size_t nSize) {
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(nOffset);
    if (!SetFilePointerEx(m_old.Get(), at, nullptr, FILE_BEGIN)) return false;
    char* pOut = static_cast<char*>(p);
    while (nSize > 0) {
        DWORD nRead = 0;
        DWORD nAsk = nSize > 0x10000000 ? 0x10000000 : static_cast<DWORD>(nSize);
        if (!ReadFile(m_old.Get(), pOut, nAsk, &nRead, nullptr) || nRead == 0) return false;
        pOut += nRead;
        nSize -= nRead;
    }
    return true;
}

FetchResult DeltaTransfer::ScanOldFile() {
    m_old.Reset(CreateFileA(m_strLocal.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size = {};
    if (!m_old.IsValid() || !GetFileSizeEx(m_old.Get(), &size)) return FETCH_NOT_FOUND;
    m_pMatcher.reset(new BlockMatcher(m_index));
    auto read = [this](uint64_t nOffset, void* p, size_t nSize) { return ReadOld(nOffset, p, nSize); };
    // The scan's read window only for the scan: a transfer waits for it while others scan.
    if (!m_memory.Take(BlockMatcher::kScanBufferBytes, true, m_exchange.CancelFlag()))
        return m_exchange.Failed(FETCH_NOT_FOUND);
    bool bScanned = m_pMatcher->Scan(static_cast<uint64_t>(size.QuadPart), read, &m_exchange.CancelFlag());
    m_memory.Release(BlockMatcher::kScanBufferBytes);
    if (bScanned) return FETCH_DONE;
    if (m_pMatcher->GaveUp()) {
        fw::LogFailure("GetFile: the installed copy costs too much to scan; fetching the whole file");
        m_bHopeless = true;
    }
    return m_exchange.Failed(FETCH_NOT_FOUND);
}

// The part goes on from the last whole block a cut transfer kept, or starts
// anew; the spans to fetch are the missing blocks from there on.
FetchResult DeltaTransfer::StartPart() {
    const uint64_t nSize = m_index.nFileSize;
    uint64_t nHave = m_pWriter->Resumable(&m_strValidator);
    size_t nFrom = static_cast<size_t>((nHave < nSize ? nHave : nSize) / m_index.nBlockSize);
    m_nPos = m_index.BlockOffset(nFrom);
    // The index's size is not the server's word: the whole file's answer decides whether the disk is full.
    if (!m_pWriter->Reserve(nSize - m_nPos)) return FETCH_REJECTED;
    if (m_nPos == 0) m_strValidator.clear();
    FetchResult result = m_pWriter->Open(m_nPos, m_exchange.CancelFlag());
    if (result != FETCH_DONE) return result;
    m_ranges = m_pMatcher->MissingRanges(nFrom);
    for (const ByteRange& range : m_ranges) m_nToMove += range.nLength;
    return FETCH_DONE;
}

// The new file in order: runs of old blocks copied, missing spans received.
FetchResult DeltaTransfer::Rebuild() {
    while (m_nPos < m_index.nFileSize) {
        if (m_exchange.Cancelled()) return FETCH_CANCELLED;
        bool bSpanHere = m_nNextRange < m_ranges.size() && m_ranges[m_nNextRange].nFirst == m_nPos;
        FetchResult result = bSpanHere ? ReceiveRange()
                                       : CopyOld(m_nNextRange < m_ranges.size() ? m_ranges[m_nNextRange].nFirst
                                                                                : m_index.nFileSize);
        if (result != FETCH_DONE || m_bTakenWhole) return result;
    }
    m_meter.Progress(m_nMoved, m_nToMove);
    return FETCH_DONE;
}

FetchResult DeltaTransfer::CopyOld(uint64_t nEnd) {
    const uint32_t nBlock = m_index.nBlockSize;
    while (m_nPos < nEnd) {
        size_t i = static_cast<size_t>(m_nPos / nBlock);
        uint64_t nInto = m_nPos - m_index.BlockOffset(i);
        uint64_t nOld = m_pMatcher->OldOffset(i) + nInto;
        // Following blocks that follow in the old file too come in one read.
        uint64_t nRun = m_index.BlockLength(i) - nInto;
        for (size_t k = i + 1; m_nPos + nRun < nEnd && nRun < kBufferBytes && m_pMatcher->OldOffset(k) == nOld + nRun; ++k)
            nRun += m_index.BlockLength(k);
        size_t nPiece = Smaller(nRun < nEnd - m_nPos ? nRun : nEnd - m_nPos, kBufferBytes);
        if (!ReadOld(nOld, m_buffer.get(), nPiece)) return FETCH_REJECTED;
        FetchResult result = Write(m_buffer.get(), nPiece);
        if (result != FETCH_DONE) return result;
    }
    return FETCH_DONE;
}

FetchResult DeltaTransfer::Write(const char* p, size_t n) {
    FetchResult result = m_pWriter->Write(p, n);
    if (result == FETCH_DONE) m_nPos += n;
    return result;
}

bool DeltaTransfer::ReadMoved(void* p, size_t nMax, size_t* pnGot) {
    DWORD nRead = 0;
    m_lastRead = m_exchange.Read(p, static_cast<DWORD>(Smaller(nMax, kBufferBytes)), &nRead);
    *pnGot = nRead;
    if (m_lastRead != FETCH_DONE) return false;
    m_nMoved += nRead;
    if (nRead > 0) m_meter.Moved(nRead, m_nMoved, m_nToMove);
    return true;
}

// Why the answer stopped: the read's own failure, else a body cut short.
FetchResult DeltaTransfer::ReadFailure() const { return m_lastRead != FETCH_DONE ? m_lastRead : FETCH_FAILED; }

FetchResult DeltaTransfer::ReceiveRange() {
    if (m_nNextRange >= m_nBatchEnd) {
        FetchResult result = OpenRanges();
        if (result != FETCH_DONE || m_bTakenWhole) return result;
    }
    const ByteRange range = m_ranges[m_nNextRange];
    if (m_pParts) {
        uint64_t nFirst = 0, nLast = 0, nTotal = 0;
        MultipartReader::Status status = m_pParts->NextPart(&nFirst, &nLast, &nTotal);
        if (status == MultipartReader::kSourceFailed) return ReadFailure();
        if (status != MultipartReader::kOk || nFirst != range.nFirst || nLast != range.nFirst + range.nLength - 1 ||
            nTotal != m_index.nFileSize) {
            fw::LogFailure("GetFile: a part that isn't the span asked for");
            return FETCH_REJECTED;
        }
    }
    for (uint64_t nLeft = range.nLength; nLeft > 0;) {
        size_t nGot = 0;
        size_t nWant = Smaller(nLeft, kBufferBytes);
        bool bRead = m_pParts ? m_pParts->ReadBody(m_buffer.get(), nWant, &nGot) == MultipartReader::kOk
                              : ReadMoved(m_buffer.get(), nWant, &nGot);
        if (!bRead || nGot == 0) return ReadFailure();
        FetchResult result = Write(m_buffer.get(), nGot);
        if (result != FETCH_DONE) return result;
        nLeft -= nGot;
    }
    ++m_nNextRange;
    return m_nNextRange == m_nBatchEnd ? EndOfBatch() : FETCH_DONE;
}

// An answer whose spans are all read must hold nothing more.
FetchResult DeltaTransfer::EndOfBatch() {
    if (m_pParts) {
        uint64_t nFirst = 0, nLast = 0, nTotal = 0;
        MultipartReader::Status status = m_pParts->NextPart(&nFirst, &nLast, &nTotal);
        if (status == MultipartReader::kSourceFailed) return ReadFailure();
        if (status != MultipartReader::kEnd) return FETCH_REJECTED;
        m_pParts.reset();
    }
    m_exchange.Close();
    return FETCH_DONE;
}

FetchResult DeltaTransfer::OpenRanges() {
    size_t nAsked = m_bSingleRanges ? 1 : kRangesPerRequest;
    if (nAsked > m_ranges.size() - m_nNextRange) nAsked = m_ranges.size() - m_nNextRange;
    std::string strHeaders = "Range: " + RangeHeaderValue(&m_ranges[m_nNextRange], nAsked) + "\r\n";
    if (!m_strValidator.empty()) strHeaders += "If-Range: " + m_strValidator + "\r\n";
    FetchResult result = m_exchange.Send(m_strPath, strHeaders);
    const int nStatus = m_exchange.Status();
    // Caches refuse several spans of one object (416) or send all of it (200)
    // where they serve one span per request: so it goes on, never taking the
    // whole file for a few changed blocks.
    if (nAsked > 1 && (nStatus == 416 || nStatus == 200) && !m_exchange.Cancelled()) {
        fw::LogLine("GetFile: several spans in one request refused; asking one per request");
        m_bSingleRanges = true;
        m_exchange.Abandon();
        return OpenRanges();
    }
    if (result != FETCH_DONE) return result;
    // The whole file: the server ignores ranges, or the file changed since.
    if (nStatus == 200) return TakeWhole();
    if (m_strValidator.empty()) {
        m_strValidator = m_exchange.Validator();
        // From the first answer on, a kill leaves a part the next run resumes.
        m_pWriter->NoteForResume(m_strValidator, m_index.nFileSize);
    }
    std::string strBoundary = MultipartBoundary(m_exchange.Header("Content-Type"));
    if (strBoundary.empty()) return CheckSingleRange(nAsked);
    auto source = [this](void* p, size_t nMax, size_t* pnGot) { return ReadMoved(p, nMax, pnGot); };
    m_pParts.reset(new MultipartReader(source, strBoundary));
    m_nBatchEnd = m_nNextRange + nAsked;
    return FETCH_DONE;
}

// One span came back: the first one asked for, or nothing of use. A server
// that answers several asked spans with one keeps getting one per request.
FetchResult DeltaTransfer::CheckSingleRange(size_t nAsked) {
    const ByteRange& range = m_ranges[m_nNextRange];
    uint64_t nFirst = 0, nLast = 0, nTotal = 0, nLength = 0;
    if (!ParseContentRange(m_exchange.Header("Content-Range").c_str(), &nFirst, &nLast, &nTotal) ||
        !m_exchange.ContentLength(&nLength) || nFirst != range.nFirst || nLength != range.nLength ||
        nLast != nFirst + nLength - 1 || nTotal != m_index.nFileSize) {
        fw::LogFailure("GetFile: an answer with other spans than asked for");
        return FETCH_REJECTED;
    }
    if (nAsked > 1) m_bSingleRanges = true;
    m_pParts.reset();
    m_nBatchEnd = m_nNextRange + 1;
    return FETCH_DONE;
}

// A range request answered with the whole file: the body is taken as any
// whole download, so that nothing travels twice.
FetchResult DeltaTransfer::TakeWhole() {
    fw::LogLine("GetFile: the server answered a range request with the whole file");
    m_bSingleRanges = true;
    BodyAnswer answer;
    if (!m_exchange.ContentLength(&answer.nTotal)) return FETCH_NOT_FOUND;
    if (m_pCheck && !m_pCheck->AcceptsLength(answer.nTotal)) return FETCH_REJECTED;
    answer.strValidator = m_exchange.Validator();
    m_old.Reset();
    m_pWriter->ReleaseRoom();
    m_meter.Size(answer.nTotal);
    m_bTakenWhole = true;
    return ReceiveWholeBody(m_exchange, *m_pWriter, answer, m_meter);
}

}  // namespace net
