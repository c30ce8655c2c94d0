// How a transfer ends, and what its body must satisfy before it may replace
// its target. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

// The run decides what each means (retry, next server, which message).
enum FetchResult {
    FETCH_DONE,        // the whole body arrived, passed its check and replaced the target
    FETCH_FAILED,      // connection lost, refused or stalled, body cut, 5xx: may pass on a retry
    FETCH_NOT_FOUND,   // 4xx, no usable length, too many redirects: the server says no
    FETCH_REJECTED,    // the body is not what the list promised (too long, wrong checksum)
    FETCH_DISK_FULL,   // the disk has no room for the body
    FETCH_CANCELLED,   // called off
};

// Ends after which no other try or server is worth asking.
inline bool IsFinal(FetchResult result) {
    return result == FETCH_DONE || result == FETCH_CANCELLED || result == FETCH_DISK_FULL;
}

// The transfer feeds it every byte as it arrives, so nothing is read twice.
class BodyCheck {
public:
    // Longest acceptable body: a longer announced or delivered one fails at once.
    virtual uint64_t MaxBytes() const = 0;
    // The announced length, before anything is written: false fails the
    // transfer at once (a signed body must announce exactly its signed size).
    virtual bool AcceptsLength(uint64_t nLength) { return nLength <= MaxBytes(); }
    // A new body starts (each attempt, and a restart from the first byte).
    virtual void Begin() = 0;
    virtual void Update(const void* pData, size_t nSize) = 0;
    // The whole body has arrived: may it replace the target?
    virtual bool Accept() = 0;

protected:
    ~BodyCheck() = default;
};

// Any body up to a size: the list, an index, a patch before it is applied.
class SizeCheck : public BodyCheck {
public:
    explicit SizeCheck(uint64_t nMaxBytes) : m_nMaxBytes(nMaxBytes) {}
    uint64_t MaxBytes() const override { return m_nMaxBytes; }
    void Begin() override {}
    void Update(const void*, size_t) override {}
    bool Accept() override { return true; }

private:
    uint64_t m_nMaxBytes;
};
