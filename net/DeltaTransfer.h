// One rebuilt download (HttpFetcher::FetchDelta): the file's block index, the
// blocks of the installed copy and the spans still to fetch, written into the
// part in the new file's order, so that the part is always a prefix of the
// new file and a cut transfer resumes like any other.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "net/BlockIndex.h"
#include "net/BlockMatcher.h"
#include "net/ByteRanges.h"
#include "net/DeltaMemory.h"
#include "net/HttpFetcher.h"

namespace net {

class DeltaTransfer {
public:
    DeltaTransfer(HttpFetcher& fetcher, BodyCheck* pCheck);
    DeltaTransfer(const DeltaTransfer&) = delete;
    DeltaTransfer& operator=(const DeltaTransfer&) = delete;

    FetchResult Run(const std::string& strIndexPath, BodyCheck* pIndexCheck);

private:
    FetchResult FetchIndex(const std::string& strPath, BodyCheck* pIndexCheck);
    FetchResult AcceptIndex(const std::string& strText, BodyCheck* pIndexCheck);
    FetchResult CheckIndexSize();
    FetchResult ScanOldFile();
    FetchResult StartPart();
    FetchResult Rebuild();
    FetchResult CopyOld(uint64_t nEnd);
    FetchResult ReceiveRange();
    FetchResult OpenRanges();
    FetchResult CheckSingleRange(HINTERNET hRequest, size_t nAsked);
    FetchResult EndOfBatch();
    FetchResult TakeWhole(HINTERNET hRequest);
    FetchResult Write(const char* p, size_t n);
    bool ReadOld(uint64_t nOffset, void* p, size_t nSize);
    // One read of the open answer, counted as bytes that moved.
    bool ReadMoved(void* p, size_t nMax, size_t* pnGot);
    FetchResult ReadFailure() const;

    HttpFetcher& m_fetcher;
    DeltaMemoryShare m_memory;  // first, so it is given back after what it counts
    BodyCheck* m_pCheck;
    BlockIndex m_index;
    std::unique_ptr<BlockMatcher> m_pMatcher;
    fw::UniqueHandle m_old;  // the installed copy
    PartFile m_part;
    DiskReservation m_room;
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
};

}  // namespace net
