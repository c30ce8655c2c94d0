// Checks a download against its signed size and SHA-256 while it arrives:
// for filelist.list and for each listed file of a signed release. One object
// per transfer; the fetcher asks it before writing each piece.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/Sha256.h"

class SignedBody {
public:
    SignedBody(uint64_t nSignedSize, const unsigned char signedSha256[fw::SHA256_BYTES]);
    SignedBody(const SignedBody&) = delete;
    SignedBody& operator=(const SignedBody&) = delete;

    // A Content-Length that differs from the signed size fails the transfer
    // before any byte is written.
    bool AcceptsLength(uint64_t nContentLength) const { return nContentLength == m_nSignedSize; }
    // Hashes the next piece; false (and nothing hashed) when it would go past
    // the signed size: the transfer stops there and writes nothing of it.
    bool Take(const void* pData, size_t nSize);
    // True once exactly the signed size arrived with the signed SHA-256; only
    // then may the temporary file replace the target. Ends the object.
    bool Complete();

    uint64_t Received() const { return m_nReceived; }

private:
    uint64_t m_nSignedSize;
    uint64_t m_nReceived = 0;
    unsigned char m_signedSha256[fw::SHA256_BYTES];
    fw::Sha256 m_hash;
    bool m_bFailed = false;
};
