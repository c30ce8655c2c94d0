// Asking a plain web server for several spans of one file and reading what
// it answers: the Range header's value, and the parts of a
// "multipart/byteranges" body as they arrive. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/BlockMatcher.h"

namespace net {

// "bytes=a-b,c-d,..." for the spans (inclusive ends, as HTTP counts).
std::string RangeHeaderValue(const ByteRange* pRanges, size_t nCount);

// The boundary of a "multipart/byteranges; boundary=..." Content-Type (any
// case, the boundary quoted or not); empty for any other type.
std::string MultipartBoundary(const std::string& strContentType);

// Reads a multipart/byteranges body part by part from a source of bytes.
class MultipartReader {
public:
    enum Status {
        kOk,
        kEnd,          // the closing delimiter was read
        kMalformed,    // not the format, or a line or a part's head longer than any of ours
        kSourceFailed  // the source failed or ended early
    };
    // Reads up to nMax bytes into p: false when it fails; *pnGot = 0 at the end.
    using Source = std::function<bool(void* p, size_t nMax, size_t* pnGot)>;

    MultipartReader(Source source, std::string strBoundary);

    // Reads up to the next part's body: the span it carries ("Content-Range:
    // bytes first-last/total"), or kEnd after the last part.
    Status NextPart(uint64_t* pnFirst, uint64_t* pnLast, uint64_t* pnTotal);
    // Up to nMax bytes of the current part's body; *pnGot = 0 once it is read.
    Status ReadBody(void* p, size_t nMax, size_t* pnGot);

private:
    Status ReadLine(std::string& strLine);
    Status Fill();

    Source m_source;
    std::string m_strDelimiter;  // "--" and the boundary
    std::string m_buffer;        // bytes read but not yet taken
    size_t m_nPos = 0;
    uint64_t m_nBodyLeft = 0;    // of the current part
    size_t m_nHeadBytes = 0;     // read by the current NextPart
    bool m_bFirst = true;
};

}  // namespace net
