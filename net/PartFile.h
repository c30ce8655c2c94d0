// The body of a download on its way: a temporary file beside the target that
// replaces the target only when complete and is removed in every other case,
// so a cut transfer never leaves a damaged file where the program looks.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/Handles.h"

namespace net {

enum WriteResult { WRITE_OK, WRITE_FAILED, WRITE_DISK_FULL };

class PartFile {
public:
    PartFile() = default;
    ~PartFile();  // removes the temporary file unless it was committed
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Name of the temporary file for a target: "<target>.part", or, where
    // that would pass the 259 bytes a path may have, a name no longer than
    // the target's own in the same folder.
    static std::string TempPathFor(const std::string& strTarget);
    // Whether the target's disk has room for nBytes more (true when it can't be told).
    static bool HasRoomFor(const std::string& strTarget, uint64_t nBytes);

    // Creates (or truncates a stale) temporary file beside strTarget.
    bool Create(const std::string& strTarget);
    // Appends n bytes.
    WriteResult Write(const void* pData, DWORD n);
    // Flushes the file and moves it over the target. A target that is in use
    // (a starting process, a virus scanner) is retried every 100 ms for up to
    // 5 s, or until bAbort is set.
    bool Commit(const std::atomic<bool>& bAbort);

private:
    void Discard();

    std::string m_strTarget;
    std::string m_strTemp;
    fw::UniqueHandle m_file;
    bool m_bPending = false;  // a temporary file exists on disk and is ours
};

}  // namespace net
