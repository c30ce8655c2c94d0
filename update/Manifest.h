// The signed manifest of a release ("filelist.sig"): the size and SHA-256 of
// the file list and of every listed file, a serial and an optional expiry,
// signed with ECDSA P-256. No Windows header: the reader builds natively for
// the sanitizers, and the publisher writes the same format with it.
//
// Format, LF line ends, nothing before the first line or after the last:
//   manifest:1:<product>:<serial>:<expires>:<list size>:<list sha256>
//   <size>:<sha256>:<folder>:<name>          one line per listed file
//   signature:<r||s>
// Numbers are decimal without sign or leading zeros; <expires> is a UTC time
// in seconds since 1970, 0 for none; SHA-256 digests are 64 lowercase hex
// digits, the signature 128 (r and s, 32 bytes each). <folder>:<name> is the
// file's list path exactly as filelist.list spells it ("/" for the program
// folder). The signature covers every byte before "signature:".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

const unsigned MANIFEST_VERSION = 1;
// A manifest beyond this is refused unread (about 80,000 files of long names).
const size_t MANIFEST_MAX_BYTES = 16 * 1024 * 1024;
const size_t MANIFEST_PRODUCT_MAX = 260;
const size_t MANIFEST_DIGEST_BYTES = 32;
const size_t MANIFEST_KEY_BYTES = 64;        // X||Y of a P-256 public key
const size_t MANIFEST_SIGNATURE_BYTES = 64;  // r||s

struct ManifestFile {
    std::string m_strDir;   // as listed
    std::string m_strName;  // as listed
    uint64_t m_nSize = 0;
    unsigned char m_sha256[MANIFEST_DIGEST_BYTES] = {};
};

struct Manifest {
    std::string m_strProduct;
    uint64_t m_nSerial = 0;
    uint64_t m_nExpires = 0;  // UTC seconds; 0: never expires
    uint64_t m_nListSize = 0;
    unsigned char m_listSha256[MANIFEST_DIGEST_BYTES] = {};
    // Sorted by folder and name folded A-Z (for Find); the order of the text
    // is not kept.
    std::vector<ManifestFile> m_files;
    size_t m_nSignedBytes = 0;  // bytes before the signature line
    unsigned char m_signature[MANIFEST_SIGNATURE_BYTES] = {};

    // The signed size and digest of a listed file, by its folder and name as
    // the list gives them, letters A-Z compared without case (the root "/"
    // and "\" alike); nullptr when the manifest doesn't hold it.
    const ManifestFile* Find(const std::string& strDir, const std::string& strName) const;
};

// Reads a manifest's text. False with the reason in strWhy for anything
// malformed: one bad line, a duplicate path or a missing signature refuses
// the whole manifest. The signature is not checked here.
bool ParseManifest(const void* pText, size_t nSize, Manifest& manifest, std::string& strWhy);

// Verifies sig (r||s) over the message under key (X||Y); on Windows
// fw::EcdsaP256VerifyMessage (framework/EcdsaP256.h).
typedef bool (*SignatureCheck)(const unsigned char key[MANIFEST_KEY_BYTES], const void* pMessage, size_t nSize,
                               const unsigned char sig[MANIFEST_SIGNATURE_BYTES]);

enum class ManifestVerdict {
    Accepted,
    Malformed,     // unreadable, too large, or of another format version
    BadSignature,  // not signed by the key
    OtherProduct,  // signed for another product
    OlderSerial,   // older than the last release accepted
    Expired,       // its expiry time has passed
};

// Reads and judges a manifest: signature, product (A-Z without case), serial
// (lower than nLastSerial refused, equal accepted) and expiry (refused once
// nNow, UTC seconds, reaches it). manifest is filled only when Accepted;
// strWhy says why otherwise, for the debug output.
ManifestVerdict CheckManifest(const void* pText, size_t nSize, const unsigned char key[MANIFEST_KEY_BYTES],
                              SignatureCheck check, const std::string& strProduct, uint64_t nLastSerial,
                              uint64_t nNow, Manifest& manifest, std::string& strWhy);

// The publisher's side: the text up to the signature line for these values
// and files (in the order given), and the signature line that closes it.
std::string FormatManifestBody(const std::string& strProduct, uint64_t nSerial, uint64_t nExpires,
                               uint64_t nListSize, const unsigned char listSha256[MANIFEST_DIGEST_BYTES],
                               const std::vector<ManifestFile>& files);
std::string FormatSignatureLine(const unsigned char sig[MANIFEST_SIGNATURE_BYTES]);

// Lowercase hex of bytes, and its reverse (exactly 2*nSize lowercase digits).
std::string ToHex(const unsigned char* p, size_t nSize);
bool FromHex(const std::string& strHex, unsigned char* p, size_t nSize);
