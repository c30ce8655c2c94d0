// A changed file whose installed copy is the base of one of the release's
// binary patches comes as that patch: fetched like any file (a cut one
// resumes), applied onto the installed copy, checked whole. Anything amiss
// leaves the block delta and the whole file to the run's usual way.
#include <windows.h>

#include <cstring>

#include "framework/Handles.h"
#include "framework/Sha256.h"
#include "framework/SupportLog.h"
#include "net/PatchApply.h"
#include "net/PatchName.h"
#include "update/Checksum.h"
#include "update/ServerPaths.h"
#include "update/UpdateSession.h"

namespace {

// An unsigned client can't tell which files have patches: it asks only for
// those the publisher patches by default, so that a site without patches
// costs a run no more than one unanswered request per large changed file.
const uint64_t kUnsignedAskMinBytes = net::PATCH_MIN_BYTES;
// Fetched patches wait beside their file under this suffix until applied.
const char* const kPatchSuffix = ".patch";

// Any patch the client could apply: never more than the span it may patch.
class PatchCheck : public BodyCheck {
public:
    uint64_t MaxBytes() const override { return net::PATCH_MAX_SPAN_BYTES; }
    void Begin() override {}
    void Update(const void*, size_t) override {}
    bool Accept() override { return true; }
};

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
std::string UpdateSession::InstalledBaseName(const FileEntry& entry, const std::string& strLocal) {
    LocalFileRow now, kept;
    const bool bSigned = m_guard.InForce();
    if (!ReadInstalledRow(strLocal, now) || now.m_nSize == 0 || (!bSigned && now.m_nSize < kUnsignedAskMinBytes))
        return std::string();
    bool bKnown = m_localState.FindKept(LocalStateKey(entry.m_strDir, entry.m_strName), kept) && kept.SameFileAs(now);
    if (bSigned) {
        if (!bKnown || !kept.m_bHasSha) {
            unsigned long long nSize = 0;
            if (!fw::FileSha256(strLocal.c_str(), kept.m_sha256, &nSize) || nSize != now.m_nSize) return std::string();
        }
        return net::PatchNameBySha256(now.m_nSize, kept.m_sha256);
    }
    if (!bKnown || !kept.m_bHasCrc) {
        kept.m_nCrc = FileChecksum(strLocal.c_str(), -1, &m_bCancel);
        if (kept.m_nCrc == 0xFFFFFFFF) return std::string();
    }
    return net::PatchNameByCrc(now.m_nSize, kept.m_nCrc);
}

FetchResult UpdateSession::FetchPatched(HttpFetcher& fetcher, const FileEntry& entry, const std::string& strLocal,
                                        BodyCheck& check, uint64_t& nFresh) {
    std::string strName = InstalledBaseName(entry, strLocal);
    if (strName.empty() || m_bCancel) return FETCH_NOT_FOUND;
    const std::string strPath =
        ServerPath(m_strProduct, "patches/" + ListedPath(entry.m_strDir, entry.m_strName) + "/" + strName);
    const std::string strPatch = strLocal + kPatchSuffix;
    // Its part file's suffix must fit as well.
    if (strPath.size() >= MAX_PATH || strPatch.size() + 5 >= MAX_PATH) return FETCH_NOT_FOUND;
    PatchCheck sane;
    SignedCheck patchCheck(sane);
    // Signed releases: only a patch the manifest signs is asked for at all.
    if (!m_guard.HoldPatch(entry, strName, patchCheck)) return FETCH_NOT_FOUND;
    FetchResult result = FetchWithRetries(
        [&](uint64_t nAddress) {
            const std::string strUrl = PatchAddress(m_strProduct, entry.m_strDir, entry.m_strName, strName, entry.m_nCrc, nAddress);
            char szUrl[kAddressCap];
            if (strUrl.size() >= sizeof szUrl) return FETCH_NOT_FOUND;
            std::memcpy(szUrl, strUrl.c_str(), strUrl.size() + 1);
            return fetcher.Fetch(szUrl, strPatch.c_str(), &patchCheck);
        },
        false, nFresh);
    if (result == FETCH_DONE) result = net::ApplyPatch(strLocal.c_str(), strPatch.c_str(), strLocal.c_str(), &check, m_bCancel);
    // A patched file that fails its check may come of a cache's patch: later tries ask elsewhere.
    if (result == FETCH_REJECTED) nFresh = FreshToken();
    DeleteFileA(strPatch.c_str());
    fw::LogLine(((result == FETCH_DONE ? "Patch: applied " : "Patch: none taken for ") + strPath).c_str());
    return result;
}
