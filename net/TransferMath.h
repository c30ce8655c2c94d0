// Arithmetic of a transfer: the announced length, the progress share and the
// speed of one window. No platform header, so it builds and tests anywhere.
#pragma once

#include <cstdint>

namespace net {

// Length of the progress steps and of the speed windows, in milliseconds.
constexpr uint32_t kProgressStepMs = 200;
constexpr uint32_t kSpeedWindowMs = 3000;

// How long one read may wait for its buffer to fill: short enough that
// progress and a cancel stay timely on a slow line.
constexpr uint32_t kReadSliceMs = 100;

// How much the next read asks for, at most nBufferSize: what has already
// arrived (nAvailable; 0 when unknown asks for the whole buffer), or more when
// the transfer's rate so far (nReceived in nElapsedMs) brings that much within
// one read slice. Some WinINet versions never report more than their own
// small buffer as available; reads of that size cap a fast line's throughput.
uint32_t NextReadSize(uint32_t nAvailable, uint64_t nReceived, uint32_t nElapsedMs, uint32_t nBufferSize);

// Largest file size or offset taken from a server: 2^63 - 1, so that every
// platform call's signed 64-bit offset holds it.
constexpr uint64_t kMaxFileBytes = 0x7FFFFFFFFFFFFFFFull;

// Reads a Content-Length value: decimal digits only, at most kMaxFileBytes.
bool ParseContentLength(const char* pszText, uint64_t* pnLength);

// Reads "bytes N-M/T" (any case, blanks allowed) into N, M and T; false for
// anything else, an unknown total ("*") or values past kMaxFileBytes.
bool ParseContentRange(const char* pszText, uint64_t* pnFirst, uint64_t* pnLast, uint64_t* pnTotal);

// Share of nReceived in nSize, in ten-thousandths, truncated toward zero and
// never above 10000. An announced length of 0 counts as complete.
int ProgressShare(uint64_t nReceived, uint64_t nSize);

// Share of a run of nCount entries done when nIndex have ended and the
// current file is nFileProgress ten-thousandths in (0 when nCount is 0).
int TotalProgress(int nIndex, int nCount, int nFileProgress);

// Bytes per second for nBytes over nElapsedMs (0 when no time has passed).
uint32_t BytesPerSecond(uint64_t nBytes, uint32_t nElapsedMs);

// True when at least nStep ms lie between dwBase and dwNow. The difference is
// taken unsigned, so the wrap of the millisecond clock does no harm.
inline bool StepDue(uint32_t dwNow, uint32_t dwBase, uint32_t nStep) {
    return dwNow - dwBase >= nStep;
}

}  // namespace net
