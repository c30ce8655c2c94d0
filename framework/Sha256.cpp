// SHA-256 on CNG: BCryptCreateHash/HashData/FinishHash, which Windows 7 has
// (BCryptHash, one call, came only with Windows 10).
#include "framework/Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <memory>
#include <new>

#include "framework/CngHandles.h"
#include "framework/Handles.h"

namespace fw {

namespace {

void DebugStatus(const char* pszCall, LONG nStatus) { DebugCngStatus("Sha256", pszCall, nStatus); }

// The algorithm provider is costly to open and, unlike hash objects, may be
// shared by threads, so the process opens it once and keeps it.
struct Sha256Provider {
    BCRYPT_ALG_HANDLE m_hAlg = nullptr;
    DWORD m_cbObject = 0;

    Sha256Provider() {
        NTSTATUS n = BCryptOpenAlgorithmProvider(&m_hAlg, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        if (!BCRYPT_SUCCESS(n)) {
            DebugStatus("BCryptOpenAlgorithmProvider", n);
            m_hAlg = nullptr;
            return;
        }
        ULONG cbResult = 0;
        n = BCryptGetProperty(m_hAlg, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&m_cbObject),
                              sizeof m_cbObject, &cbResult, 0);
        if (!BCRYPT_SUCCESS(n)) {
            DebugStatus("BCryptGetProperty", n);
            m_cbObject = 0;
        }
    }
    ~Sha256Provider() {
        if (m_hAlg) BCryptCloseAlgorithmProvider(m_hAlg, 0);
    }
};

const Sha256Provider& Provider() {
    static const Sha256Provider s_provider;
    return s_provider;
}

}  // namespace

Sha256::Sha256() {
    const Sha256Provider& p = Provider();
    if (!p.m_hAlg) return;
    if (p.m_cbObject) m_pObject = new (std::nothrow) unsigned char[p.m_cbObject];
    BCRYPT_HASH_HANDLE hHash = nullptr;
    NTSTATUS n = BCryptCreateHash(p.m_hAlg, &hHash, m_pObject, m_pObject ? p.m_cbObject : 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(n)) {
        DebugStatus("BCryptCreateHash", n);
        Close();
        return;
    }
    m_hHash = hHash;
}

Sha256::~Sha256() { Close(); }

void Sha256::Close() {
    if (m_hHash) BCryptDestroyHash(m_hHash);
    m_hHash = nullptr;
    delete[] m_pObject;
    m_pObject = nullptr;
}

bool Sha256::Update(const void* pData, size_t nSize) {
    if (!m_hHash) return false;
    const unsigned char* p = static_cast<const unsigned char*>(pData);
    // ULONG counts: feed very large ranges in pieces.
    const size_t kPiece = 1u << 30;
    while (nSize > 0) {
        ULONG n = static_cast<ULONG>(nSize < kPiece ? nSize : kPiece);
        NTSTATUS s = BCryptHashData(m_hHash, const_cast<PUCHAR>(p), n, 0);
        if (!BCRYPT_SUCCESS(s)) {
            DebugStatus("BCryptHashData", s);
            Close();
            return false;
        }
        p += n;
        nSize -= n;
    }
    return true;
}

bool Sha256::Finish(unsigned char digest[SHA256_BYTES]) {
    if (!m_hHash) return false;
    NTSTATUS s = BCryptFinishHash(m_hHash, digest, SHA256_BYTES, 0);
    if (!BCRYPT_SUCCESS(s)) DebugStatus("BCryptFinishHash", s);
    Close();
    return BCRYPT_SUCCESS(s);
}

bool BytesSha256(const void* pData, size_t nSize, unsigned char digest[SHA256_BYTES]) {
    Sha256 hash;
    return hash.Update(pData, nSize) && hash.Finish(digest);
}

bool FileSha256(const char* pszPath, unsigned char digest[SHA256_BYTES], unsigned long long* pnSize) {
    UniqueHandle file(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) return false;
    Sha256 hash;
    unsigned long long nTotal = 0;
    static const DWORD kChunk = 64 * 1024;
    std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[kChunk]);
    bool bOk = buf != nullptr;
    DWORD nRead = 0;
    while (bOk && (bOk = ReadFile(file.Get(), buf.get(), kChunk, &nRead, nullptr) != FALSE) && nRead > 0) {
        bOk = hash.Update(buf.get(), nRead);
        nTotal += nRead;
    }
    if (!bOk || !hash.Finish(digest)) return false;
    if (pnSize) *pnSize = nTotal;
    return true;
}

}  // namespace fw
