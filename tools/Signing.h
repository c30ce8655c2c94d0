// The publisher's cryptography, one implementation per platform:
// SigningOpenSsl.cpp (native, libcrypto) and SigningCng.cpp (publish.exe, CNG).
// Keys are PEM text (see tools/KeyPem.h for the forms); signatures raw r||s.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

const size_t SIGN_DIGEST_BYTES = 32;
const size_t SIGN_SIGNATURE_BYTES = 64;
const size_t SIGN_PUBLIC_BYTES = 64;

// A fresh P-256 key pair: PKCS#8 private key and SubjectPublicKeyInfo PEM.
bool CreateKeyPairPem(std::string& strPrivatePem, std::string& strPublicPem, std::string& strError);
// ECDSA P-256 over the SHA-256 of the message; also gives the key's public point.
bool SignMessagePem(const std::string& strPrivatePem, const void* pMessage, size_t nSize,
                    unsigned char sig[SIGN_SIGNATURE_BYTES], unsigned char xy[SIGN_PUBLIC_BYTES],
                    std::string& strError);
// Whether sig (r||s) is xy's signature of the message.
bool VerifyMessageRaw(const unsigned char xy[SIGN_PUBLIC_BYTES], const void* pMessage, size_t nSize,
                      const unsigned char sig[SIGN_SIGNATURE_BYTES]);
bool Sha256OfFile(const std::string& strPath, unsigned char digest[SIGN_DIGEST_BYTES], uint64_t& nSize);

// SHA-256 fed in pieces, for a file read once for several digests.
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;

    // False once anything failed; Finish then fails too.
    bool Update(const void* pData, size_t nSize);
    bool Finish(unsigned char digest[SIGN_DIGEST_BYTES]);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
