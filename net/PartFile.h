// The body of a download on its way: a temporary file beside the target that
// replaces the target only when complete and is removed in every other case,
// so a cut transfer never leaves a damaged file where the program looks.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "framework/Handles.h"

namespace net {

enum WriteResult { WRITE_OK, WRITE_FAILED, WRITE_DISK_FULL };

class PartFile {
public:
    explicit PartFile(const std::string& strTarget);
    ~PartFile();  // removes the temporary file unless it was committed or kept
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Name of the temporary file for a target: "<target>.part", or, where
    // that would pass the 259 bytes a path may have, a name no longer than
    // the target's own in the same folder.
    static std::string TempPathFor(const std::string& strTarget);
    // Whether the target's disk has room for nBytes more (true when it can't be told).
    static bool HasRoomFor(const std::string& strTarget, uint64_t nBytes);

    // Bytes of a temporary file a cut transfer kept, with the validator
    // (ETag or Last-Modified) of the response they came from; 0 when there is
    // nothing to resume (no note, or the kept bytes already reach the whole
    // file's size, which no range request can continue), in which case any
    // leftover is removed.
    uint64_t Resumable(std::string* pValidator);
    // Creates (or truncates a stale) temporary file beside the target.
    bool Create();
    // Opens the kept temporary file to go on writing at its end, cut to its
    // first nKeep bytes when it holds more.
    bool Append(uint64_t nKeep = UINT64_MAX);
    // Hands the bytes already in the temporary file to fn, from the start;
    // false when a read fails or bAbort is set on the way.
    bool ReadExisting(const std::function<void(const void*, size_t)>& fn, const std::atomic<bool>& bAbort);
    // Notes beside the temporary file the validator and the whole file's size
    // of the body that is arriving, so that even a process killed at any
    // moment leaves a part the next run can resume.
    bool Note(const std::string& strValidator, uint64_t nTotal);
    // Leaves the temporary file for a later transfer to resume, when its note
    // is on disk; otherwise it is removed.
    void Keep();
    // Removes the temporary file and its note.
    void Discard();
    // Appends n bytes.
    WriteResult Write(const void* pData, DWORD n);
    // Flushes the file and moves it over the target. A read-only target is
    // made writable first; one that is in use (a starting process, a virus
    // scanner) is retried every 100 ms for up to 5 s, or until bAbort is set.
    bool Commit(const std::atomic<bool>& bAbort);
    // The open temporary file (read and write), for a writer that maps it.
    HANDLE Handle() const { return m_file.Get(); }

private:
    bool Open(DWORD dwDisposition);

    std::string m_strTarget;
    std::string m_strTemp;
    std::string m_strNote;  // the validator's file; empty when the path would be too long
    fw::UniqueHandle m_file;
    bool m_bPending = false;  // a temporary file exists on disk and is ours
    bool m_bNoted = false;    // its note is on disk
};

}  // namespace net
