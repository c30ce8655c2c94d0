// ECDSA P-256 verification on CNG: the raw key goes in as an ECC public blob.
#include "framework/EcdsaP256.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "framework/CngHandles.h"
#include "framework/Sha256.h"

namespace fw {

namespace {

void DebugStatus(const char* pszCall, LONG nStatus) { DebugCngStatus("EcdsaP256", pszCall, nStatus); }

}  // namespace

bool EcdsaP256VerifyDigest(const unsigned char key[ECDSA_P256_KEY_BYTES],
                           const unsigned char digest[ECDSA_P256_DIGEST_BYTES],
                           const unsigned char sig[ECDSA_P256_SIG_BYTES]) {
    CngAlgorithm alg;
    NTSTATUS n = BCryptOpenAlgorithmProvider(alg.Out(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(n)) {
        DebugStatus("BCryptOpenAlgorithmProvider", n);
        return false;
    }
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + ECDSA_P256_KEY_BYTES];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, ECDSA_P256_KEY_BYTES / 2};
    memcpy(blob, &header, sizeof header);
    memcpy(blob + sizeof header, key, ECDSA_P256_KEY_BYTES);
    CngKey hKey;
    n = BCryptImportKeyPair(alg.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, hKey.Out(), blob, sizeof blob, 0);
    if (!BCRYPT_SUCCESS(n)) {
        DebugStatus("BCryptImportKeyPair", n);
        return false;
    }
    unsigned char digestCopy[ECDSA_P256_DIGEST_BYTES];
    unsigned char sigCopy[ECDSA_P256_SIG_BYTES];
    memcpy(digestCopy, digest, sizeof digestCopy);
    memcpy(sigCopy, sig, sizeof sigCopy);
    n = BCryptVerifySignature(hKey.Get(), nullptr, digestCopy, sizeof digestCopy, sigCopy, sizeof sigCopy, 0);
    // STATUS_INVALID_SIGNATURE is the ordinary "no"; anything else is worth a line.
    if (!BCRYPT_SUCCESS(n) && n != static_cast<NTSTATUS>(0xC000A000L)) DebugStatus("BCryptVerifySignature", n);
    return BCRYPT_SUCCESS(n);
}

bool EcdsaP256VerifyMessage(const unsigned char key[ECDSA_P256_KEY_BYTES], const void* pMessage, size_t nSize,
                            const unsigned char sig[ECDSA_P256_SIG_BYTES]) {
    unsigned char digest[SHA256_BYTES];
    return BytesSha256(pMessage, nSize, digest) && EcdsaP256VerifyDigest(key, digest, sig);
}

}  // namespace fw
