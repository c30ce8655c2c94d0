// ECDSA on the P-256 curve with SHA-256, verified through the system's CNG.
// Keys and signatures travel raw: the key as X||Y, the signature as r||s,
// each coordinate 32 big-endian bytes.
#pragma once

#include <cstddef>

namespace fw {

const size_t ECDSA_P256_KEY_BYTES = 64;
const size_t ECDSA_P256_SIG_BYTES = 64;
const size_t ECDSA_P256_DIGEST_BYTES = 32;

// True only when sig is key's signature of the SHA-256 digest. A key that is
// not a point of the curve, or any failure of CNG, verifies nothing.
bool EcdsaP256VerifyDigest(const unsigned char key[ECDSA_P256_KEY_BYTES],
                           const unsigned char digest[ECDSA_P256_DIGEST_BYTES],
                           const unsigned char sig[ECDSA_P256_SIG_BYTES]);
// The same over a message, hashed here with SHA-256. The shape matches
// SignatureCheck in update/Manifest.h.
bool EcdsaP256VerifyMessage(const unsigned char key[ECDSA_P256_KEY_BYTES], const void* pMessage, size_t nSize,
                            const unsigned char sig[ECDSA_P256_SIG_BYTES]);

}  // namespace fw
