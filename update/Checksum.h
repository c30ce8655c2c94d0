// The 32-bit file checksum the server's list carries. No Windows header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

const uint32_t CHECKSUM_UNREADABLE = 0xFFFFFFFFu;

// Checksum of a byte range, continuing from nCrc (start with ChecksumStart()).
uint32_t ChecksumStart();
uint32_t ChecksumUpdate(uint32_t nCrc, const void* pData, size_t nSize);
// Checksum of the first nCount bytes of a file (-1: the whole file);
// CHECKSUM_UNREADABLE when it can't be opened or read, or when pCancel is set
// on the way (a large file takes a while).
uint32_t FileChecksum(const char* pszPath, long long nCount, const std::atomic<bool>* pCancel = nullptr);
