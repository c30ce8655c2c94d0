// publish.exe's cryptography on CNG; the PEM forms come from tools/KeyPem.
#include "tools/Signing.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "framework/CngHandles.h"
#include "framework/EcdsaP256.h"
#include "framework/Sha256.h"
#include "tools/KeyPem.h"

namespace {

// The blob CNG imports and exports: header, X, Y, then d for a private key.
struct EccBlob {
    BCRYPT_ECCKEY_BLOB header;
    unsigned char xy[SIGN_PUBLIC_BYTES];
    unsigned char d[KEY_PRIVATE_BYTES];
};

class EcdsaAlgorithm {
public:
    EcdsaAlgorithm() {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(m_alg.Out(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
            *m_alg.Out() = nullptr;
    }

    bool Generate() {
        return m_alg.IsValid() && BCRYPT_SUCCESS(BCryptGenerateKeyPair(m_alg.Get(), m_key.Out(), 256, 0)) &&
               BCRYPT_SUCCESS(BCryptFinalizeKeyPair(m_key.Get(), 0));
    }
    bool Export(EccBlob& blob) {
        ULONG cb = 0;
        return BCRYPT_SUCCESS(BCryptExportKey(m_key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                              reinterpret_cast<PUCHAR>(&blob), sizeof blob, &cb, 0)) &&
               cb == sizeof blob && blob.header.dwMagic == BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    }
    bool Import(EccBlob& blob) {
        return m_alg.IsValid() && BCRYPT_SUCCESS(BCryptImportKeyPair(m_alg.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, m_key.Out(),
                                                            reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0));
    }
    bool Sign(unsigned char digest[SIGN_DIGEST_BYTES], unsigned char sig[SIGN_SIGNATURE_BYTES]) {
        ULONG cb = 0;
        return BCRYPT_SUCCESS(BCryptSignHash(m_key.Get(), nullptr, digest, SIGN_DIGEST_BYTES, sig, SIGN_SIGNATURE_BYTES,
                                             &cb, 0)) &&
               cb == SIGN_SIGNATURE_BYTES;
    }

private:
    fw::CngAlgorithm m_alg;  // released after the key: members go in reverse order
    fw::CngKey m_key;
};

}  // namespace

bool CreateKeyPairPem(std::string& strPrivatePem, std::string& strPublicPem, std::string& strError) {
    EcdsaAlgorithm alg;
    EccBlob blob;
    if (!alg.Generate() || !alg.Export(blob)) {
        strError = "CNG could not make a P-256 key";
        return false;
    }
    strPrivatePem = PrivateKeyPem(blob.d, blob.xy);
    strPublicPem = PublicKeyPem(blob.xy);
    SecureZeroMemory(&blob, sizeof blob);
    return true;
}

bool SignMessagePem(const std::string& strPrivatePem, const void* pMessage, size_t nSize,
                    unsigned char sig[SIGN_SIGNATURE_BYTES], unsigned char xy[SIGN_PUBLIC_BYTES],
                    std::string& strError) {
    EccBlob blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    blob.header.cbKey = KEY_PRIVATE_BYTES;
    if (!ReadPrivateKeyPem(strPrivatePem, blob.d, blob.xy, strError)) return false;
    memcpy(xy, blob.xy, SIGN_PUBLIC_BYTES);
    EcdsaAlgorithm alg;
    unsigned char digest[SIGN_DIGEST_BYTES];
    bool bOk = alg.Import(blob) && fw::BytesSha256(pMessage, nSize, digest) && alg.Sign(digest, sig);
    SecureZeroMemory(&blob, sizeof blob);
    if (!bOk) strError = "CNG could not sign with the key";
    return bOk;
}

bool VerifyMessageRaw(const unsigned char xy[SIGN_PUBLIC_BYTES], const void* pMessage, size_t nSize,
                      const unsigned char sig[SIGN_SIGNATURE_BYTES]) {
    return fw::EcdsaP256VerifyMessage(xy, pMessage, nSize, sig);
}

bool Sha256OfFile(const std::string& strPath, unsigned char digest[SIGN_DIGEST_BYTES], uint64_t& nSize) {
    unsigned long long n = 0;
    if (!fw::FileSha256(strPath.c_str(), digest, &n)) return false;
    nSize = n;
    return true;
}

struct Sha256Stream::Impl {
    fw::Sha256 m_hash;
    bool m_bOk = m_hash.IsValid();
};

Sha256Stream::Sha256Stream() : m_impl(new Impl) {}
Sha256Stream::~Sha256Stream() = default;

bool Sha256Stream::Update(const void* pData, size_t nSize) {
    m_impl->m_bOk = m_impl->m_bOk && m_impl->m_hash.Update(pData, nSize);
    return m_impl->m_bOk;
}

bool Sha256Stream::Finish(unsigned char digest[SIGN_DIGEST_BYTES]) {
    bool bOk = m_impl->m_bOk && m_impl->m_hash.Finish(digest);
    m_impl->m_bOk = false;
    return bOk;
}
