// A download held to its signed size and SHA-256 as it arrives.
#include "update/SignedBody.h"

#include <cstring>

SignedBody::SignedBody(uint64_t nSignedSize, const unsigned char signedSha256[fw::SHA256_BYTES])
    : m_nSignedSize(nSignedSize) {
    memcpy(m_signedSha256, signedSha256, sizeof m_signedSha256);
}

bool SignedBody::Take(const void* pData, size_t nSize) {
    if (m_bFailed || nSize > m_nSignedSize - m_nReceived || !m_hash.Update(pData, nSize)) {
        m_bFailed = true;
        return false;
    }
    m_nReceived += nSize;
    return true;
}

bool SignedBody::Complete() {
    unsigned char digest[fw::SHA256_BYTES];
    bool bOk = !m_bFailed && m_nReceived == m_nSignedSize && m_hash.Finish(digest) &&
               memcmp(digest, m_signedSha256, sizeof digest) == 0;
    m_bFailed = true;
    return bOk;
}
