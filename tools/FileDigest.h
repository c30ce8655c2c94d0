// One read of a released file for everything the publisher needs of it: its
// size, the list's checksum, its SHA-256 and, for a large file, its block index.
#pragma once

#include <cstdint>
#include <string>

#include "tools/Signing.h"

struct DigestWants {
    bool m_bSha256 = false;     // signing, or comparing with the previous release's copy
    uint64_t m_nIndexMin = 0;   // files of this size or more get a block index; 0: none
};

struct FileDigest {
    uint64_t m_nSize = 0;
    uint32_t m_nCrc = 0;
    bool m_bHasSha256 = false;
    unsigned char m_sha256[SIGN_DIGEST_BYTES] = {};
    std::string m_strBlockIndex;  // the index's bytes; empty when none was wanted
};

// False when the file can't be opened or read whole (or changed size meanwhile).
bool DigestFile(const std::string& strPath, const DigestWants& wants, FileDigest& digest);
// SHA-256 of bytes in memory (a block index before it is written).
bool DigestBytes(const std::string& strBytes, unsigned char sha256[SIGN_DIGEST_BYTES]);
