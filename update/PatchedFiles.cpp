// The patch a changed file may come as: named by the installed copy it was
// made against, which the run knows by the digest its scan read where the
// file is still as it was then.
#include <windows.h>

#include "framework/Handles.h"
#include "framework/Sha256.h"
#include "net/PatchName.h"
#include "update/Checksum.h"
#include "update/FilePolicy.h"

namespace {

// An unsigned client can't tell which files have patches: it asks only for
// those the publisher patches by default, so that a site without patches
// costs a run no more than one unanswered request per large changed file.
const uint64_t kUnsignedAskMinBytes = net::PATCH_MIN_BYTES;

// The installed file as the system describes it now; false for no file.
bool ReadInstalledRow(const std::string& strLocal, LocalFileRow& row) {
    fw::UniqueHandle file(CreateFileA(strLocal.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    bool bDirectory = false;
    return file.IsValid() && ReadFileRow(file.Get(), row, bDirectory) && !bDirectory;
}

}  // namespace

// The patch name that fits the installed copy: by the digest this run's scan
// read from it where the file is still as it was then, else by one read now.
std::string InstalledPatchName(const RunShared& run, const FileEntry& entry, const std::string& strLocal) {
    LocalFileRow now, kept;
    const bool bSigned = run.guard.InForce();
    if (!ReadInstalledRow(strLocal, now) || now.m_nSize == 0 || (!bSigned && now.m_nSize < kUnsignedAskMinBytes))
        return std::string();
    bool bKnown = run.localState.FindKept(LocalStateKey(entry.m_strDir, entry.m_strName), kept) && kept.SameFileAs(now);
    if (bSigned) {
        if (!bKnown || !kept.m_bHasSha) {
            unsigned long long nSize = 0;
            if (!fw::FileSha256(strLocal.c_str(), kept.m_sha256, &nSize) || nSize != now.m_nSize) return std::string();
        }
        return net::PatchNameBySha256(now.m_nSize, kept.m_sha256);
    }
    if (!bKnown || !kept.m_bHasCrc) {
        kept.m_nCrc = FileChecksum(strLocal.c_str(), -1, &run.cancel.Flag());
        if (kept.m_nCrc == 0xFFFFFFFF) return std::string();
    }
    return net::PatchNameByCrc(now.m_nSize, kept.m_nCrc);
}
