// Range requests and multipart/byteranges answers; see ByteRanges.h.
#include "net/ByteRanges.h"

#include <cstring>

#include "net/TransferMath.h"

namespace net {
namespace {

// No header line of ours comes near this; a longer one is no multipart body.
const size_t kMaxLine = 4096;
// Lines before the first delimiter that a server may send (a preamble).
const int kMaxPreambleLines = 8;
// All the lines that lead to one part's body (the line break, the delimiter,
// the part's headers): a few short lines; a server that sends more is
// holding the transfer, not serving it.
const size_t kMaxPartHeadBytes = 8192;

char LowerAZ(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const std::string& s, const char* pszPrefix) {
    size_t n = std::strlen(pszPrefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (LowerAZ(s[i]) != LowerAZ(pszPrefix[i])) return false;
    return true;
}

}  // namespace

std::string RangeHeaderValue(const ByteRange* pRanges, size_t nCount) {
    std::string s = "bytes=";
    for (size_t i = 0; i < nCount; ++i) {
        if (i > 0) s += ',';
        s += std::to_string(pRanges[i].nFirst) + "-" + std::to_string(pRanges[i].nFirst + pRanges[i].nLength - 1);
    }
    return s;
}

std::string MultipartBoundary(const std::string& strContentType) {
    if (!StartsWithNoCase(strContentType, "multipart/byteranges")) return std::string();
    std::string lower;
    for (char c : strContentType) lower += LowerAZ(c);
    size_t nAt = lower.find("boundary=");
    if (nAt == std::string::npos) return std::string();
    std::string strBoundary = strContentType.substr(nAt + 9);
    if (!strBoundary.empty() && strBoundary[0] == '"') {
        size_t nEnd = strBoundary.find('"', 1);
        return nEnd == std::string::npos ? std::string() : strBoundary.substr(1, nEnd - 1);
    }
    size_t nEnd = strBoundary.find_first_of("; \t");
    return nEnd == std::string::npos ? strBoundary : strBoundary.substr(0, nEnd);
}

MultipartReader::MultipartReader(Source source, std::string strBoundary)
    : m_source(std::move(source)), m_strDelimiter("--" + strBoundary) {}

MultipartReader::Status MultipartReader::Fill() {
    if (m_nPos > 0) {
        m_buffer.erase(0, m_nPos);
        m_nPos = 0;
    }
    char chunk[8192];
    size_t nGot = 0;
    if (!m_source(chunk, sizeof chunk, &nGot) || nGot == 0) return kSourceFailed;
    m_buffer.append(chunk, nGot);
    return kOk;
}

// One line without its CR LF (a bare LF ends a line too).
MultipartReader::Status MultipartReader::ReadLine(std::string& strLine) {
    for (;;) {
        size_t nEnd = m_buffer.find('\n', m_nPos);
        if (nEnd != std::string::npos) {
            size_t nLen = nEnd - m_nPos;
            if (nLen > 0 && m_buffer[nEnd - 1] == '\r') --nLen;
            strLine.assign(m_buffer, m_nPos, nLen);
            m_nHeadBytes += nEnd + 1 - m_nPos;
            m_nPos = nEnd + 1;
            return m_nHeadBytes > kMaxPartHeadBytes ? kMalformed : kOk;
        }
        if (m_buffer.size() - m_nPos > kMaxLine) return kMalformed;
        Status status = Fill();
        if (status != kOk) return status;
    }
}

MultipartReader::Status MultipartReader::NextPart(uint64_t* pnFirst, uint64_t* pnLast, uint64_t* pnTotal) {
    if (m_nBodyLeft > 0) return kMalformed;  // the last part wasn't read
    m_nHeadBytes = 0;
    std::string strLine;
    // The line break that ends a part's body, or a preamble, comes before the delimiter.
    for (int nSkipped = 0;; ++nSkipped) {
        Status status = ReadLine(strLine);
        if (status != kOk) return status;
        if (strLine == m_strDelimiter) break;
        if (strLine == m_strDelimiter + "--") return m_bFirst ? kMalformed : kEnd;
        bool bMayPrecede = m_bFirst ? nSkipped < kMaxPreambleLines : (nSkipped == 0 && strLine.empty());
        if (!bMayPrecede) return kMalformed;
    }
    m_bFirst = false;
    bool bRange = false;
    for (;;) {
        Status status = ReadLine(strLine);
        if (status != kOk) return status;
        if (strLine.empty()) break;
        if (StartsWithNoCase(strLine, "content-range:")) {
            bRange = ParseContentRange(strLine.c_str() + 14, pnFirst, pnLast, pnTotal);
            if (!bRange) return kMalformed;
        }
    }
    if (!bRange) return kMalformed;
    m_nBodyLeft = *pnLast - *pnFirst + 1;
    return kOk;
}

MultipartReader::Status MultipartReader::ReadBody(void* p, size_t nMax, size_t* pnGot) {
    *pnGot = 0;
    if (m_nBodyLeft == 0 || nMax == 0) return kOk;
    if (nMax > m_nBodyLeft) nMax = static_cast<size_t>(m_nBodyLeft);
    if (m_nPos < m_buffer.size()) {
        size_t n = m_buffer.size() - m_nPos;
        if (n > nMax) n = nMax;
        std::memcpy(p, m_buffer.data() + m_nPos, n);
        m_nPos += n;
        *pnGot = n;
    } else if (!m_source(p, nMax, pnGot) || *pnGot == 0) {
        // Straight from the source: a large part never passes the buffer.
        *pnGot = 0;
        return kSourceFailed;
    }
    m_nBodyLeft -= *pnGot;
    return kOk;
}

}  // namespace net
