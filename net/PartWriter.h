// What a transfer writes on its way to the target: the room it holds on the
// disk, the part file beside the target, and the body check that every byte
// feeds, a kept part's bytes first. The whole download and the rebuilt one
// write through it alike.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "net/DiskBudget.h"
#include "net/FetchResult.h"
#include "net/PartFile.h"

namespace net {

class PartWriter {
public:
    // pCheck may be null: the body is taken as it comes.
    PartWriter(const std::string& strTarget, DiskBudget* pDisk, BodyCheck* pCheck);
    PartWriter(const PartWriter&) = delete;
    PartWriter& operator=(const PartWriter&) = delete;

    // Bytes a cut transfer kept and the validator they came with (see PartFile).
    uint64_t Resumable(std::string* pValidator) { return m_part.Resumable(pValidator); }
    void Discard() { m_part.Discard(); }
    // Room for the nBytes still to come; false when the disk hasn't it.
    bool Reserve(uint64_t nBytes) { return m_room.Take(m_strTarget, nBytes); }
    void ReleaseRoom() { m_room.Clear(); }
    // Opens the part to go on at nFrom (what it keeps beyond is cut off) or
    // anew at 0; the check begins and takes the kept bytes first.
    FetchResult Open(uint64_t nFrom, const std::atomic<bool>& cancel);
    // From here a kill at any moment leaves a part to resume, where the file
    // is large enough to be worth it.
    void NoteForResume(const std::string& strValidator, uint64_t nTotal);
    FetchResult Write(const void* pData, size_t nSize);
    // The whole body is written: FETCH_REJECTED when it fails its check.
    FetchResult Accept();
    // Moves the part over the target.
    FetchResult Commit(const std::atomic<bool>& cancel);
    // How a transfer that wrote here ended: a part noted for resuming stays
    // after a cut or a cancel; any other is removed.
    void After(FetchResult result);

    // Files announced with at least this many bytes keep what arrived of a
    // cut transfer and ask for the rest next time.
    static const uint32_t kResumeMinBytes = 1024 * 1024;

private:
    std::string m_strTarget;
    BodyCheck* m_pCheck;
    PartFile m_part;
    DiskReservation m_room;
};

}  // namespace net
