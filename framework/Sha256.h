// SHA-256 through the system's CNG (bcrypt), streaming, one object per
// transfer: separate objects may be used from separate threads at once.
#pragma once

#include <cstddef>

namespace fw {

const size_t SHA256_BYTES = 32;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when CNG could not make the hash object; every call then fails.
    bool IsValid() const { return m_hHash != nullptr; }
    bool Update(const void* pData, size_t nSize);
    // Writes the digest and ends the object: later calls fail.
    bool Finish(unsigned char digest[SHA256_BYTES]);

private:
    void Close();

    void* m_hHash = nullptr;           // BCRYPT_HASH_HANDLE
    unsigned char* m_pObject = nullptr;  // the hash object's memory, CNG's own on Vista
};

// Digest of a byte range.
bool BytesSha256(const void* pData, size_t nSize, unsigned char digest[SHA256_BYTES]);
// Digest and size of a whole file; false when it can't be opened or read.
bool FileSha256(const char* pszPath, unsigned char digest[SHA256_BYTES], unsigned long long* pnSize = nullptr);

}  // namespace fw
