// The state file's bytes, little-endian throughout:
//   "SRLSTATE"  u32 version  u32 checksum of everything after it
//   u32 flags (1: the last run failed)  u32 row count
//   per row: u16 path length, path, u64 size, u64 last-write time,
//            u64 creation time, u32 volume serial, u64 file index,
//            u8 what is known (1: CRC, 2: SHA-256), u32 CRC, [32 bytes SHA-256]
// No Windows header: the reader also builds natively.
#include <cstring>
#include <vector>

#include "update/Checksum.h"
#include "update/LocalState.h"
#include "update/PathRules.h"

namespace {

const char kMagic[8] = {'S', 'R', 'L', 'S', 'T', 'A', 'T', 'E'};
const uint32_t kVersion = 1;
const uint32_t kFlagFailed = 1;
const unsigned kHasCrc = 1, kHasSha = 2;
const size_t kHeaderBytes = sizeof kMagic + 4 + 4;
// The longest path a row may name: the run's paths live in 260-byte buffers.
const size_t kPathMax = 259;

void PutU16(std::string& s, uint32_t n) {
    s += static_cast<char>(n & 0xFF);
    s += static_cast<char>((n >> 8) & 0xFF);
}
void PutU32(std::string& s, uint32_t n) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((n >> (8 * i)) & 0xFF);
}
void PutU64(std::string& s, uint64_t n) {
    for (int i = 0; i < 8; ++i) s += static_cast<char>((n >> (8 * i)) & 0xFF);
}

// Reads fields in order; any read past the end fails the whole file.
class Reader {
public:
    Reader(const unsigned char* p, size_t n) : m_p(p), m_pEnd(p + n) {}
    bool Bytes(void* pOut, size_t n) {
        if (static_cast<size_t>(m_pEnd - m_p) < n) return false;
        std::memcpy(pOut, m_p, n);
        m_p += n;
        return true;
    }
    bool Number(uint64_t& n, int nBytes) {
        unsigned char b[8];
        if (!Bytes(b, static_cast<size_t>(nBytes))) return false;
        n = 0;
        for (int i = nBytes - 1; i >= 0; --i) n = (n << 8) | b[i];
        return true;
    }
    template <typename T>
    bool Get(T& out, int nBytes) {
        uint64_t n = 0;
        if (!Number(n, nBytes)) return false;
        out = static_cast<T>(n);
        return true;
    }
    bool AtEnd() const { return m_p == m_pEnd; }

private:
    const unsigned char* m_p;
    const unsigned char* m_pEnd;
};

// A stored path is a listed folder's path: relative, no drive, no "..".
bool IsInsideProgramFolder(const std::string& strPath) {
    return !strPath.empty() && strPath.size() <= kPathMax && strPath != "/" && strPath != "\\" &&
           IsSafeListDir(strPath);
}

bool ParseRow(Reader& in, LocalRows& rows) {
    uint32_t nLen = 0;
    if (!in.Get(nLen, 2) || nLen > kPathMax) return false;
    std::string strPath(nLen, '\0');
    if (!in.Bytes(&strPath[0], nLen) || !IsInsideProgramFolder(strPath)) return false;
    LocalFileRow row;
    unsigned nKnown = 0;
    if (!in.Get(row.m_nSize, 8) || !in.Get(row.m_nWriteTime, 8) || !in.Get(row.m_nCreateTime, 8) ||
        !in.Get(row.m_nVolume, 4) || !in.Get(row.m_nFileIndex, 8) || !in.Get(nKnown, 1) || !in.Get(row.m_nCrc, 4))
        return false;
    if (nKnown & ~(kHasCrc | kHasSha)) return false;
    row.m_bHasCrc = (nKnown & kHasCrc) != 0;
    row.m_bHasSha = (nKnown & kHasSha) != 0;
    if (row.m_bHasSha && !in.Bytes(row.m_sha256, sizeof row.m_sha256)) return false;
    // A key is written once; a repeated one is no state we wrote.
    return rows.emplace(std::move(strPath), row).second;
}

}  // namespace

bool LocalFileRow::operator==(const LocalFileRow& o) const {
    return SameFileAs(o) && m_bHasCrc == o.m_bHasCrc && (!m_bHasCrc || m_nCrc == o.m_nCrc) &&
           m_bHasSha == o.m_bHasSha && (!m_bHasSha || std::memcmp(m_sha256, o.m_sha256, sizeof m_sha256) == 0);
}

std::string LocalStateKey(const std::string& strDir, const std::string& strName) {
    return LocalPathKey((strDir == "/" || strDir == "\\") ? strName : strDir + "\\" + strName);
}

std::string FormatLocalState(const LocalRows& rows, bool bLastRunFailed) {
    std::string body;
    body.reserve(16 + rows.size() * 96);
    PutU32(body, bLastRunFailed ? kFlagFailed : 0);
    PutU32(body, static_cast<uint32_t>(rows.size()));
    for (const auto& r : rows) {
        const LocalFileRow& row = r.second;
        PutU16(body, static_cast<uint32_t>(r.first.size()));
        body += r.first;
        PutU64(body, row.m_nSize);
        PutU64(body, row.m_nWriteTime);
        PutU64(body, row.m_nCreateTime);
        PutU32(body, row.m_nVolume);
        PutU64(body, row.m_nFileIndex);
        body += static_cast<char>((row.m_bHasCrc ? kHasCrc : 0) | (row.m_bHasSha ? kHasSha : 0));
        PutU32(body, row.m_nCrc);
        if (row.m_bHasSha) body.append(reinterpret_cast<const char*>(row.m_sha256), sizeof row.m_sha256);
    }
    std::string out(kMagic, sizeof kMagic);
    PutU32(out, kVersion);
    PutU32(out, ChecksumUpdate(ChecksumStart(), body.data(), body.size()));
    return out + body;
}

bool ParseLocalState(const void* pData, size_t nSize, LocalRows& rows, bool& bLastRunFailed) {
    rows.clear();
    const unsigned char* p = static_cast<const unsigned char*>(pData);
    if (nSize < kHeaderBytes || nSize > LOCAL_STATE_MAX_BYTES || std::memcmp(p, kMagic, sizeof kMagic) != 0)
        return false;
    Reader header(p + sizeof kMagic, 8);
    uint32_t nVersion = 0, nCrc = 0;
    if (!header.Get(nVersion, 4) || !header.Get(nCrc, 4) || nVersion != kVersion) return false;
    const unsigned char* pBody = p + kHeaderBytes;
    const size_t nBody = nSize - kHeaderBytes;
    if (ChecksumUpdate(ChecksumStart(), pBody, nBody) != nCrc) return false;
    Reader in(pBody, nBody);
    uint32_t nFlags = 0, nRows = 0;
    if (!in.Get(nFlags, 4) || !in.Get(nRows, 4) || (nFlags & ~kFlagFailed)) return false;
    for (uint32_t i = 0; i < nRows; ++i)
        if (!ParseRow(in, rows)) {
            rows.clear();
            return false;
        }
    if (!in.AtEnd()) {
        rows.clear();
        return false;
    }
    bLastRunFailed = (nFlags & kFlagFailed) != 0;
    return true;
}
