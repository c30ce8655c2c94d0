// The transfer's part writer; see PartWriter.h.
#include "net/PartWriter.h"

#include "framework/SupportLog.h"

namespace net {

PartWriter::PartWriter(const std::string& strTarget, DiskBudget* pDisk, BodyCheck* pCheck)
    : m_strTarget(strTarget), m_pCheck(pCheck), m_part(strTarget), m_room(pDisk) {}

FetchResult PartWriter::Open(uint64_t nFrom, const std::atomic<bool>& cancel) {
    if (!(nFrom > 0 ? m_part.Append(nFrom) : m_part.Create())) return FETCH_FAILED;
    if (!m_pCheck) return FETCH_DONE;
    m_pCheck->Begin();
    BodyCheck* pCheck = m_pCheck;
    if (nFrom > 0 && !m_part.ReadExisting([pCheck](const void* p, size_t n) { pCheck->Update(p, n); }, cancel))
        return cancel.load() ? FETCH_CANCELLED : FETCH_FAILED;
    return FETCH_DONE;
}

void PartWriter::NoteForResume(const std::string& strValidator, uint64_t nTotal) {
    if (nTotal >= kResumeMinBytes) m_part.Note(strValidator, nTotal);
}

FetchResult PartWriter::Write(const void* pData, size_t nSize) {
    WriteResult written = m_part.Write(pData, static_cast<DWORD>(nSize));
    if (written != WRITE_OK) return written == WRITE_DISK_FULL ? FETCH_DISK_FULL : FETCH_FAILED;
    m_room.Written(nSize);
    if (m_pCheck) m_pCheck->Update(pData, nSize);
    return FETCH_DONE;
}

FetchResult PartWriter::Accept() {
    if (!m_pCheck || m_pCheck->Accept()) return FETCH_DONE;
    fw::LogFailure("GetFile: the body failed its check");
    return FETCH_REJECTED;
}

FetchResult PartWriter::Commit(const std::atomic<bool>& cancel) {
    return m_part.Commit(cancel) ? FETCH_DONE : FETCH_FAILED;
}

void PartWriter::After(FetchResult result) {
    if (result == FETCH_FAILED || result == FETCH_CANCELLED) m_part.Keep();
}

}  // namespace net
