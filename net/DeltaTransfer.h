// One rebuilt download (HttpFetcher::FetchDelta): the file's block index, the
// blocks of the installed copy and the spans still to fetch, written into the
// part in the new file's order, so that the part is always a prefix of the
// new file and a cut transfer resumes like any other.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "net/BlockIndex.h"
#include "net/BlockMatcher.h"
#include "net/ByteRanges.h"
#include "net/DeltaMemory.h"
#include "net/HttpExchange.h"
#include "net/HttpFetcher.h"
#include "net/PartWriter.h"
#include "net/TransferEvents.h"

namespace net {

class DeltaTransfer {
public:
    // bSingleRanges: what the server's answers taught, that it takes one
    // span per request; this transfer reads and sets it.
    DeltaTransfer(HttpExchange& exchange, TransferMeter& meter, DiskBudget* pDisk, std::atomic<bool>& bSingleRanges);
    DeltaTransfer(const DeltaTransfer&) = delete;
    DeltaTransfer& operator=(const DeltaTransfer&) = delete;

    FetchResult Run(const FileRequest& request, const std::string& strIndexPath, BodyCheck* pIndexCheck);
    // After Run: no server's delta of this file is worth trying.
    bool Hopeless() const { return m_bHopeless; }

private:
    FetchResult FetchIndex(const std::string& strPath, BodyCheck* pIndexCheck);
    FetchResult ReadIndex(uint64_t nLength, std::string& strText);
    FetchResult AcceptIndex(const std::string& strText, BodyCheck* pIndexCheck);
    FetchResult CheckIndexSize();
    FetchResult ScanOldFile();
    FetchResult StartPart();
    FetchResult Rebuild();
    FetchResult CopyOld(uint64_t nEnd);
    FetchResult ReceiveRange();
    FetchResult OpenRanges();
    FetchResult CheckSingleRange(size_t nAsked);
    FetchResult EndOfBatch();
    FetchResult TakeWhole();
    FetchResult Write(const char* p, size_t n);
    bool ReadOld(uint64_t nOffset, void* p, size_t nSize);
    // One read of the open answer, counted as bytes that moved.
    bool ReadMoved(void* p, size_t nMax, size_t* pnGot);
    FetchResult ReadFailure() const;

    HttpExchange& m_exchange;
    TransferMeter& m_meter;
    std::atomic<bool>& m_bSingleRanges;
    DeltaMemoryShare m_memory;  // first, so it is given back after what it counts
    DiskBudget* m_pDisk;
    BodyCheck* m_pCheck = nullptr;
    std::string m_strLocal;
    std::string m_strPath;
    BlockIndex m_index;
    std::unique_ptr<BlockMatcher> m_pMatcher;
    fw::UniqueHandle m_old;  // the installed copy
    std::unique_ptr<PartWriter> m_pWriter;
    std::vector<ByteRange> m_ranges;
    size_t m_nNextRange = 0;  // the first span not yet received
    size_t m_nBatchEnd = 0;   // the open request asked for the spans up to here
    uint64_t m_nPos = 0;      // bytes of the new file in the part
    uint64_t m_nMoved = 0, m_nToMove = 0;
    std::string m_strValidator;
    std::unique_ptr<MultipartReader> m_pParts;  // the open answer's parts; null for one span
    std::unique_ptr<char[]> m_buffer;
    FetchResult m_lastRead = FETCH_DONE;
    bool m_bTakenWhole = false;
    bool m_bHopeless = false;
};

}  // namespace net
