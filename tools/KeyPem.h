// P-256 keys in the PEM forms OpenSSL reads and writes: the private key as
// PKCS#8 ("PRIVATE KEY") or SEC1 ("EC PRIVATE KEY"), the public key as
// SubjectPublicKeyInfo ("PUBLIC KEY"). Raw keys are big-endian: d, and X||Y.
// No Windows header: publish.exe needs it because CNG has no PEM, and the
// native tests hold it against OpenSSL.
#pragma once

#include <cstddef>
#include <string>

const size_t KEY_PRIVATE_BYTES = 32;
const size_t KEY_PUBLIC_BYTES = 64;

// Writes PKCS#8 and SubjectPublicKeyInfo PEM text.
std::string PrivateKeyPem(const unsigned char d[KEY_PRIVATE_BYTES], const unsigned char xy[KEY_PUBLIC_BYTES]);
std::string PublicKeyPem(const unsigned char xy[KEY_PUBLIC_BYTES]);

// Reads a P-256 private key in either form; the public point must be in it
// (OpenSSL always writes it). False with the reason otherwise.
bool ReadPrivateKeyPem(const std::string& strPem, unsigned char d[KEY_PRIVATE_BYTES],
                       unsigned char xy[KEY_PUBLIC_BYTES], std::string& strWhy);
bool ReadPublicKeyPem(const std::string& strPem, unsigned char xy[KEY_PUBLIC_BYTES], std::string& strWhy);
