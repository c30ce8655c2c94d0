// How one file of the work list comes: a patch made against the installed
// copy, then the changed blocks, each from every server in turn, then the
// whole file from every server; transient failures tried again after a
// pause. It returns what happened, for the run to count and log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/CancelToken.h"
#include "net/BandwidthBudget.h"
#include "net/DiskBudget.h"
#include "net/HttpFetcher.h"
#include "update/FileList.h"
#include "update/LocalState.h"
#include "update/ReleaseGuard.h"
#include "update/ServerRoutes.h"
#include "update/UpdateSettings.h"

// What every transfer of a run shares, owned by the run.
struct RunShared {
    const UpdateSettings& settings;
    ServerRoutes& routes;
    ReleaseGuard& guard;
    LocalState& localState;
    fw::CancelToken& cancel;
    net::DiskBudget& disk;
    net::BandwidthBudget& bandwidth;
    size_t nHome = 0;  // the server whose list the run took

    net::TransferContext Context(HINTERNET hRoot) const;
};

// What one file's fetch went through.
struct FileOutcome {
    FetchResult result = FETCH_NOT_FOUND;
    const char* pszHow = "whole";  // "patch", "delta", "resumed" or "whole"
    size_t nServer = 0;            // of the last try
    int nTries = 0;
    uint64_t nBytes = 0;           // over the line, every try together
    std::string strReason;         // a failure's last diagnostic
};

// The server a file tries n-th: the run's server nHome first, then the
// others in their fixed order.
inline size_t ServerInTurn(size_t n, size_t nHome) { return n == 0 ? nHome : (n <= nHome ? n - 1 : n); }

// The installed copy's path for a listed entry.
std::string LocalPathOf(const FileEntry& entry);

class FilePolicy {
public:
    FilePolicy(const RunShared& run, HttpFetcher& fetcher) : m_run(run), m_fetcher(fetcher) {}
    FilePolicy(const FilePolicy&) = delete;
    FilePolicy& operator=(const FilePolicy&) = delete;

    FileOutcome Fetch(const FileEntry& entry);

private:
    using Attempt = std::function<FetchResult(uint64_t nFresh)>;
    using ServerAttempt = std::function<FetchResult(const net::TransferContext&, HINTERNET hConnect)>;
    using FileAttempt = std::function<FetchResult(const net::TransferContext&, const FileRequest&, uint64_t nFresh)>;

    FetchResult FetchInOrder(const FileEntry& entry, BodyCheck& check);
    FetchResult Patched(const FileEntry& entry, BodyCheck& check);
    FetchResult ChangedBlocks(const FileEntry& entry, BodyCheck& check);
    FetchResult Whole(const FileEntry& entry, BodyCheck& check);
    // bWhole: the file's tries and server count it, and a rejected body is asked once more.
    FetchResult OnEveryServer(const FileEntry& entry, BodyCheck& check, bool bWhole, const FileAttempt& attempt);
    FetchResult WithRetries(const Attempt& attempt, bool bRefetchRejected);
    // One attempt on server i's way; bCounted: the file's tries and server count it.
    FetchResult OnServer(size_t i, bool bCounted, const ServerAttempt& attempt);
    FetchResult Download(const net::TransferContext& context, const FileRequest& request);

    const RunShared& m_run;
    HttpFetcher& m_fetcher;
    std::string m_strLocal;
    FileOutcome m_outcome;
    uint64_t m_nFresh = 0;  // after a body failed its check: the address no cache has seen
};

// The name of the release's patch made against the installed copy, "" when
// none is worth asking for (see PatchedFiles.cpp).
std::string InstalledPatchName(const RunShared& run, const FileEntry& entry, const std::string& strLocal);
