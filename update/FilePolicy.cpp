// One file's way to the player; see FilePolicy.h.
#include "update/FilePolicy.h"

#include <windows.h>

#include "framework/SupportLog.h"
#include "net/BlockIndex.h"
#include "net/PatchApply.h"
#include "net/PatchName.h"
#include "update/Checksum.h"
#include "update/ServerPaths.h"

namespace {

// Names, local paths and server paths stay within 260 bytes.
const size_t kPathCap = 260;
// Transient failures of a file: tries after the first, pauses of 0.5, 1 and 2 s.
const int kMaxRetries = 3;
const DWORD kFirstRetryPauseMs = 500;
// Fetched patches wait beside their file under this suffix until applied.
const char* const kPatchSuffix = ".patch";

// A file: its checksum must be the listed one before it may replace the
// installed file, so a cut or foreign body never lands.
class CrcCheck : public BodyCheck {
public:
    explicit CrcCheck(uint32_t nExpected) : m_nExpected(nExpected) {}
    uint64_t MaxBytes() const override { return UINT64_MAX; }
    void Begin() override { m_nCrc = ChecksumStart(); }
    void Update(const void* pData, size_t nSize) override { m_nCrc = ChecksumUpdate(m_nCrc, pData, nSize); }
    bool Accept() override { return m_nCrc == m_nExpected; }

private:
    uint32_t m_nExpected;
    uint32_t m_nCrc = 0;
};

bool IsRootDir(const std::string& strDir) { return strDir == "/" || strDir == "\\"; }

bool IsLargeInstalledFile(const std::string& strLocal) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(strLocal.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    uint64_t nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return nSize >= net::DELTA_MIN_BYTES;
}

}  // namespace

std::string LocalPathOf(const FileEntry& entry) {
    return IsRootDir(entry.m_strDir) ? entry.m_strName : entry.m_strDir + "\\" + entry.m_strName;
}

net::TransferContext RunShared::Context(HINTERNET hRoot) const {
    net::TransferContext context;
    context.hRoot = hRoot;
    context.pDisk = &disk;
    context.pBandwidth = &bandwidth;
    context.nStallLimitMs = settings.nStallLimitMs;
    context.pCancel = &cancel;
    return context;
}

FileOutcome FilePolicy::Fetch(const FileEntry& entry) {
    m_strLocal = LocalPathOf(entry);
    m_outcome = FileOutcome();
    m_nFresh = 0;
    const std::string strPath =
        ServerPath(m_run.settings.strProduct, "release/" + ListedPath(entry.m_strDir, entry.m_strName));
    CrcCheck crc(entry.m_nCrc);
    SignedCheck check(crc);
    // Longer paths count as a failed transfer; signed releases fetch nothing
    // the manifest doesn't sign.
    if (entry.m_strName.size() >= kPathCap || m_strLocal.size() >= kPathCap || strPath.size() >= kPathCap)
        m_outcome.result = FETCH_NOT_FOUND;
    else if (!m_run.guard.HoldFile(entry, check))
        m_outcome.result = FETCH_REJECTED;
    else
        m_outcome.result = FetchInOrder(entry, check);
    if (m_outcome.result != FETCH_DONE) m_outcome.strReason = fw::LastFailure();
    return m_outcome;
}

// The patch, then the delta, come from the run's server as far as the log
// tells; the whole file counts its tries and names the server of the last.
FetchResult FilePolicy::FetchInOrder(const FileEntry& entry, BodyCheck& check) {
    FetchResult result = Patched(entry, check);
    m_outcome.pszHow = "patch";
    if (!IsFinal(result)) {
        result = ChangedBlocks(entry, check);
        m_outcome.pszHow = "delta";
    }
    if (IsFinal(result)) {
        m_outcome.nTries = 1;
        m_outcome.nServer = m_run.nHome;
        return result;
    }
    m_outcome.pszHow = "whole";
    return Whole(entry, check);
}

FetchResult FilePolicy::Whole(const FileEntry& entry, BodyCheck& check) {
    return OnEveryServer(entry, check, true, [&](const net::TransferContext& context, const FileRequest& request, uint64_t) {
        FetchResult result = Download(context, request);
        m_outcome.pszHow = m_fetcher.LastReport().bResumed ? "resumed" : "whole";
        return result;
    });
}

// Each server in turn with its own delta; only a cut transfer is tried again
// on one server. An index refused for what it is, or a scan that gave up,
// ends the deltas: the mirrors carry the same index.
FetchResult FilePolicy::ChangedBlocks(const FileEntry& entry, BodyCheck& check) {
    if (!IsLargeInstalledFile(m_strLocal)) return FETCH_NOT_FOUND;
    SizeCheck sane(net::BLOCK_INDEX_MAX_BYTES);
    SignedCheck indexCheck(sane);
    if (!m_run.guard.HoldIndex(entry, indexCheck)) return FETCH_NOT_FOUND;
    const std::string& strProduct = m_run.settings.strProduct;
    return OnEveryServer(entry, check, false, [&](const net::TransferContext& context, const FileRequest& request, uint64_t nFresh) {
        const std::string strIndex =
            BlockIndexAddress(strProduct, entry.m_strDir, entry.m_strName, entry.m_nCrc, nFresh);
        if (strIndex.size() >= kAddressCap) return FETCH_NOT_FOUND;
        FetchResult result = m_fetcher.FetchDelta(context, request, strIndex, &indexCheck);
        m_outcome.nBytes += m_fetcher.LastReport().nMoved;
        return result;
    });
}

// The file from every server in turn, the run's own first, each with its
// retries (the whole file asks once more after a body failed its check).
// The loop ends at a final result, or where no server's delta is worth trying.
FetchResult FilePolicy::OnEveryServer(const FileEntry& entry, BodyCheck& check, bool bWhole,
                                      const FileAttempt& attempt) {
    const std::string& strProduct = m_run.settings.strProduct;
    FetchResult result = bWhole ? FETCH_FAILED : FETCH_NOT_FOUND;
    for (size_t n = 0; n < m_run.routes.Count() && !m_run.cancel.IsCancelled(); ++n) {
        const size_t i = ServerInTurn(n, m_run.nHome);
        if (m_run.routes.Connection(i) == nullptr) continue;
        result = WithRetries(
            [&](uint64_t nFresh) {
                return OnServer(i, bWhole, [&](const net::TransferContext& context, HINTERNET hConnect) {
                    FileRequest request;
                    request.hConnect = hConnect;
                    request.strPath = FileAddress(strProduct, entry.m_strDir, entry.m_strName, entry.m_nCrc, nFresh);
                    request.strLocal = m_strLocal;
                    request.pCheck = &check;
                    if (request.strPath.size() >= kAddressCap) return FETCH_NOT_FOUND;
                    return attempt(context, request, nFresh);
                });
            },
            bWhole);
        if (IsFinal(result) || (!bWhole && m_fetcher.LastReport().bDeltaHopeless)) break;
    }
    return result;
}

// A patch made against the installed copy, from the run's server: fetched
// like any file (a cut one resumes), applied onto the installed copy, checked whole.
FetchResult FilePolicy::Patched(const FileEntry& entry, BodyCheck& check) {
    const std::string strName = InstalledPatchName(m_run, entry, m_strLocal);
    if (strName.empty() || m_run.cancel.IsCancelled()) return FETCH_NOT_FOUND;
    const std::string& strProduct = m_run.settings.strProduct;
    const std::string strPath =
        ServerPath(strProduct, "patches/" + ListedPath(entry.m_strDir, entry.m_strName) + "/" + strName);
    const std::string strPatch = m_strLocal + kPatchSuffix;
    // Its part file's suffix must fit as well.
    if (strPath.size() >= MAX_PATH || strPatch.size() + 5 >= MAX_PATH) return FETCH_NOT_FOUND;
    SizeCheck sane(net::PATCH_MAX_SPAN_BYTES);
    SignedCheck patchCheck(sane);
    // Signed releases: only a patch the manifest signs is asked for at all.
    if (!m_run.guard.HoldPatch(entry, strName, patchCheck)) return FETCH_NOT_FOUND;
    const size_t nHome = m_run.nHome;
    FetchResult result = WithRetries(
        [&](uint64_t nFresh) {
            FileRequest request;
            request.hConnect = m_run.routes.Connection(nHome);
            request.strPath = PatchAddress(strProduct, entry.m_strDir, entry.m_strName, strName, entry.m_nCrc, nFresh);
            request.strLocal = strPatch;
            request.pCheck = &patchCheck;
            if (request.strPath.size() >= kAddressCap) return FETCH_NOT_FOUND;
            return Download(m_run.Context(m_run.routes.Root(nHome)), request);
        },
        false);
    if (result == FETCH_DONE)
        result = net::ApplyPatch(m_strLocal.c_str(), strPatch.c_str(), m_strLocal.c_str(), &check, m_run.cancel.Flag());
    // A patched file that fails its check may come of a cache's patch: later tries ask elsewhere.
    if (result == FETCH_REJECTED) m_nFresh = FreshToken();
    DeleteFileA(strPatch.c_str());
    fw::LogLine(((result == FETCH_DONE ? "Patch: applied " : "Patch: none taken for ") + strPath).c_str());
    return result;
}

// A transient failure (connection lost, body cut, 5xx, a stall) is tried
// again after a short, growing pause; a cut file of some size resumes where it
// stopped. A body whose checksum differs is fetched once more when asked, as
// always; a second mismatch leaves the installed file as it was. A cache may
// hold the wrong bytes under an address, so after a body failed its check
// every later try asks another one.
FetchResult FilePolicy::WithRetries(const Attempt& attempt, bool bRefetchRejected) {
    bool bFetchedAgain = !bRefetchRejected;
    for (int nRetry = 0;;) {
        FetchResult result = attempt(m_nFresh);
        if (result == FETCH_REJECTED) m_nFresh = FreshToken();
        if (result == FETCH_REJECTED && !bFetchedAgain && !m_run.cancel.IsCancelled()) {
            bFetchedAgain = true;
            continue;
        }
        if (result != FETCH_FAILED || nRetry >= kMaxRetries) return result;
        if (!m_run.cancel.Pause(kFirstRetryPauseMs << nRetry++)) return FETCH_CANCELLED;
    }
}

FetchResult FilePolicy::OnServer(size_t i, bool bCounted, const ServerAttempt& attempt) {
    int nUncounted = 0;
    if (bCounted) m_outcome.nServer = i;
    return m_run.routes.Try(
        i, m_fetcher, m_run.cancel,
        [&](HINTERNET hRoot, HINTERNET hConnect) {
            net::TransferContext context = m_run.Context(hRoot);
            context.pSingleRanges = m_run.routes.SingleRanges(i);
            return attempt(context, hConnect);
        },
        bCounted ? &m_outcome.nTries : &nUncounted);
}

FetchResult FilePolicy::Download(const net::TransferContext& context, const FileRequest& request) {
    FetchResult result = m_fetcher.Fetch(context, request);
    m_outcome.nBytes += m_fetcher.LastReport().nMoved;
    return result;
}
