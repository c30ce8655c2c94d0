// The update run: connect, fetch the product's file list, compare, then walk
// the work list in order, creating each missing folder at its place and
// handing each file to a free transfer slot.
#include <windows.h>
#include <direct.h>
#include <mmsystem.h>

#include <cstring>
#include <memory>
#include <new>
#include <set>

#include "framework/SupportLog.h"
#include "res/Texts.h"
#include "res/version.h"
#include "update/RunLog.h"
#include "update/Checksum.h"
#include "update/LocalScan.h"
#include "update/PathRules.h"
#include "update/ServerPaths.h"
#include "update/StaleParts.h"
#include "update/TransferPool.h"
#include "update/UpdatePaths.h"
#include "update/UpdateSession.h"

namespace {

// Names, local paths and URL paths live in 260-byte buffers, the list's path in 520.
const size_t kPathCap = 260;
const size_t kListPathCap = 520;
// A list beyond this is no list of ours; reading it would only exhaust memory.
const uint64_t kMaxListBytes = 64ull * 1024 * 1024;
// Pauses that let the player read the last message.
const DWORD kListFailedPauseMs = 2000;
const DWORD kDonePauseMs = 1000;
// Transient failures of a file: tries after the first, pauses of 0.5, 1 and 2 s.
const int kMaxRetries = 3;
const DWORD kFirstRetryPauseMs = 500;

bool IsRootDir(const std::string& strDir) { return strDir == "/" || strDir == "\\"; }

std::string LocalPathOf(const FileEntry& entry) {
    return IsRootDir(entry.m_strDir) ? entry.m_strName : entry.m_strDir + "\\" + entry.m_strName;
}

// Copies a path into a buffer of the fixed size; false when it doesn't fit.
template <size_t nCap>
bool CopyPath(const std::string& strPath, char (&szOut)[nCap]) {
    if (strPath.size() >= nCap) return false;
    std::memcpy(szOut, strPath.c_str(), strPath.size() + 1);
    return true;
}

// The list: anything of a sane size.
class ListCheck : public BodyCheck {
public:
    uint64_t MaxBytes() const override { return kMaxListBytes; }
    void Begin() override {}
    void Update(const void*, size_t) override {}
    bool Accept() override { return true; }
};

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

void SetConnectionLimit(int nConnections) {
    DWORD n = static_cast<DWORD>(nConnections);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &n, sizeof(n));
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &n, sizeof(n));
}

}  // namespace

void MakeDirectoryPath(const char* pszPath) {
    char szPath[kPathCap] = {};
    size_t n = 0;
    for (const char* p = pszPath; *p && n + 1 < sizeof(szPath); ++p) {
        // A double-byte character is copied whole: its trail byte may equal "\".
        if (fw::IsLeadByte(static_cast<unsigned char>(*p)) && p[1]) {
            if (n + 2 >= sizeof(szPath)) break;
            szPath[n++] = *p++;
            szPath[n++] = *p;
            continue;
        }
        if (*p == '\\' || *p == '/') {
            szPath[n] = '\0';
            _mkdir(szPath);
            szPath[n++] = '\\';
            continue;
        }
        szPath[n++] = *p;
    }
    szPath[n] = '\0';
    _mkdir(szPath);
}

bool UpdateSession::RunUpdate() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_nTotalProgress = 0;
        m_nFileCount = 0;
        m_nFileIndex = 0;
        m_nLineBytes = m_nLastSampleBytes = 0;
        m_nSpeed = 0;
        m_dwSpeedTick = timeGetTime();
    }
    m_pszFailure = nullptr;
    m_dwRunStart = timeGetTime();
    m_bandwidth.SetRate(static_cast<uint32_t>(m_nLimitKiB) * 1024);
    Notify(AREA_TOTAL_BAR);
    std::vector<UpdateServer> servers = RunServers();
    // However the run ends, a normal return or a throw, the fetchers let go
    // of the run's handles first, then they close.
    struct RunHandles {
        explicit RunHandles(UpdateSession& session) : m_session(session) {}
        ~RunHandles() {
            m_session.DetachFetchers();
            m_session.m_routes.Close();
        }
        RunHandles(const RunHandles&) = delete;
        RunHandles& operator=(const RunHandles&) = delete;
        UpdateSession& m_session;
    } handles(*this);
    const bool bOpened = m_routes.Open(SELFRENEW_USER_AGENT);
    OpenRunLog(servers);
    if (!bOpened) {
        fw::LogFailureFormat("InternetOpenA failed, error %lu", GetLastError());
        OnStatus(STATUS_TEXT, TEXT_INIT_FAILED);
        return false;
    }
    if (servers.empty()) {
        OnStatus(STATUS_TEXT, TEXT_CONNECTING);
        OnStatus(STATUS_TEXT, TEXT_LIST_FAILED);
        PauseUnlessCancelled(kListFailedPauseMs);
        return false;
    }
    SetConnectionLimit(MAX_CONNECTIONS);
    std::vector<std::pair<std::string, unsigned short>> targets;
    for (const UpdateServer& server : servers) targets.emplace_back(server.strHost, server.nPort);
    m_routes.Connect(targets);
    return RunWithServers(servers);
}

// The support log lies beside the run's other files; its first lines say
// what this run was asked to do and how it goes out.
void UpdateSession::OpenRunLog(const std::vector<UpdateServer>& servers) {
    const std::string strProgramDir = FindProgramFolder();
    CreateDirectoryA(UpdateIniFolder(strProgramDir).c_str(), nullptr);
    fw::OpenSupportLog(SupportLogPath(strProgramDir).c_str());
    m_serverNames.clear();
    for (const UpdateServer& server : servers) m_serverNames.push_back(server.strHost + ":" + std::to_string(server.nPort));
    RunStartNote note;
    note.strStartParam = m_strStartParam;
    note.strProduct = m_strProduct;
    note.pRows = &m_lstUpdateServers;
    note.servers = m_serverNames;
    note.strRoute = m_routes.Describe();
    note.bSigned = m_guard.InForce();
    note.nLimitKiB = m_nLimitKiB;
    LogRunStart(note);
}

bool UpdateSession::RunWithServers(const std::vector<UpdateServer>& servers) {
    _mkdir("UpdateINI");
    MakeDirectoryPath(("UpdateINI/" + m_strProduct).c_str());
    std::string strListPath = "UpdateINI/" + m_strProduct + "/files.ini";
    std::vector<FileEntry> remote;
    int nServer = FetchListFromAnyServer(strListPath, remote);
    if (nServer < 0) {
        if (m_bCancel) return false;
        // One server whose connection can't even be set up: the old message, at once.
        if (nServer == kNoConnection) {
            OnStatus(STATUS_TEXT, TEXT_CONNECT_FAILED);
            return false;
        }
        OnStatus(STATUS_TEXT, nServer == kRefusedList ? TEXT_LIST_REFUSED : TEXT_LIST_FAILED);
        PauseUnlessCancelled(kListFailedPauseMs);
        return false;
    }
    m_nServer = nServer;
    // Signed releases: once accepted and its list taken, nothing older may
    // install, even where some file of this one fails for good.
    m_guard.StoreSerial();
    if (!CompareWithLocalFiles(remote)) return false;
    // A killed run's part of a file this release dropped would stay for good.
    RemoveOrphanParts(remote);
    WIN32_FILE_ATTRIBUTE_DATA list = {};
    GetFileAttributesExA(strListPath.c_str(), GetFileExInfoStandard, &list);
    LogListTaken(m_serverNames[nServer], (static_cast<uint64_t>(list.nFileSizeHigh) << 32) | list.nFileSizeLow,
                 m_guard.Serial(), remote.size(), m_updateList.size());
    if (m_updateList.empty()) {
        m_localState.Save(false);
        OnStatus(STATUS_TEXT, TEXT_DONE);
        Notify(AREA_DONE_EMPTY);
        return true;
    }
    OnStatus(STATUS_TEXT, TEXT_STARTING);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_nFileCount = static_cast<int>(m_updateList.size());
        m_nFileIndex = 0;
    }
    const int nConnections = servers[nServer].nConnections;
    MakeFetchers(nConnections, m_routes.Root(nServer), m_routes.Connection(nServer));
    const bool bWalked = WalkUpdateList(nConnections);
    // A failed file, or a walk called off, leaves the next run a full scan.
    const char* pszFailure = m_pszFailure;
    m_localState.Save(pszFailure != nullptr || !bWalked);
    if (!bWalked) return false;
    // A failed entry's message stays: "complete" would hide it.
    OnStatus(STATUS_TEXT, pszFailure ? pszFailure : TEXT_DONE);
    Notify(AREA_DONE);
    PauseUnlessCancelled(kDonePauseMs);
    return true;
}

// The chosen server first, then the others in their fixed order: the first
// whose list arrives and reads is the run's server. Its index, or a reason.
int UpdateSession::FetchListFromAnyServer(const std::string& strListPath, std::vector<FileEntry>& remote) {
    bool bAnyConnection = false;
    bool bRefused = false;
    for (size_t i = 0; i < m_routes.Count() && !m_bCancel; ++i) {
        OnStatus(STATUS_TEXT, TEXT_CONNECTING);
        if (m_routes.Connection(i) == nullptr) continue;
        bAnyConnection = true;
        MakeFetchers(1, m_routes.Root(i), m_routes.Connection(i));
        bool bThisRefused = false;
        FetchResult result =
            OnRoute(*m_fetchers[0], i, [&] { return FetchListFrom(strListPath, remote, 0, bThisRefused); });
        // A cache on the way may hold an older list or signature than the
        // origin: once more at addresses no cache has seen.
        if (result == FETCH_REJECTED && !m_bCancel)
            result = OnRoute(*m_fetchers[0], i,
                             [&] { return FetchListFrom(strListPath, remote, FreshToken(), bThisRefused); });
        if (result == FETCH_DONE) return static_cast<int>(i);
        bRefused = bRefused || bThisRefused;
    }
    if (bRefused) return kRefusedList;
    return bAnyConnection || m_routes.Count() > 1 ? kNoList : kNoConnection;
}

// An attempt on server i's way now; where the proxy failed it, once more
// directly. The direct way stays the server's when it brought an answer.
FetchResult UpdateSession::OnRoute(HttpFetcher& fetcher, size_t i, const std::function<FetchResult()>& attempt,
                                   EntryTrace* pTrace) {
    EntryTrace unused;
    EntryTrace& trace = pTrace ? *pTrace : unused;
    trace.nServer = i;
    fetcher.m_hInternet = m_routes.Root(i);
    fetcher.m_hConnect = m_routes.Connection(i);
    ++trace.nTries;
    FetchResult result = attempt();
    trace.bResumed = fetcher.LastResumed();
    if (result == FETCH_DONE || result == FETCH_CANCELLED || result == FETCH_DISK_FULL || m_bCancel ||
        !IsProxyFailure(fetcher.LastStatus(), fetcher.LastSendError()))
        return result;
    HINTERNET hDirect = m_routes.DirectAfterProxyFailure(i, fetcher.m_hConnect);
    if (hDirect == nullptr) return result;
    fetcher.m_hInternet = m_routes.Root(i);
    fetcher.m_hConnect = hDirect;
    ++trace.nTries;
    result = attempt();
    trace.bResumed = fetcher.LastResumed();
    if (result != FETCH_DONE && fetcher.LastStatus() == 0 && fetcher.LastSendError() != 0) m_routes.DirectFailed(i);
    return result;
}

// Signed releases: this server's manifest first, then only the list it signs;
// a server that serves anything else is passed over, and bRefused says it
// served a release that isn't good (it stays set). FETCH_REJECTED when a body failed its check.
FetchResult UpdateSession::FetchListFrom(const std::string& strListPath, std::vector<FileEntry>& remote,
                                         uint64_t nFresh, bool& bRefused) {
    remote.clear();
    FetchResult result =
        m_guard.Start(*m_fetchers[0], m_strProduct, "", "UpdateINI/" + m_strProduct + "/filelist.sig", nFresh);
    if (m_guard.InForce()) OnSlotEnd(0);
    if (result != FETCH_DONE) {
        bRefused = bRefused || result == FETCH_REJECTED || result == FETCH_NOT_FOUND;
        return result;
    }
    result = FetchFileList(strListPath, nFresh);
    bRefused = bRefused || m_guard.ListRefused();
    if (result == FETCH_DONE && !ReadListFile(strListPath, remote)) return FETCH_FAILED;
    return m_guard.ListRefused() ? FETCH_REJECTED : result;
}

// An error page served as the list reads as no entries at all; an empty file
// is a release without files.
bool UpdateSession::ReadListFile(const std::string& strListPath, std::vector<FileEntry>& remote) {
    try {
        ReadFileList(strListPath.c_str(), remote);
    } catch (const std::bad_alloc&) {
        remote.clear();
        return false;
    }
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    bool bEmptyFile = GetFileAttributesExA(strListPath.c_str(), GetFileExInfoStandard, &data) &&
                      data.nFileSizeLow == 0 && data.nFileSizeHigh == 0;
    return !remote.empty() || bEmptyFile;
}

FetchResult UpdateSession::FetchFileList(const std::string& strLocalPath, uint64_t nFresh) {
    char szUrl[kAddressCap];
    if (ServerPath(m_strProduct, "filelist.list").size() >= kPathCap ||
        !CopyPath(ListAddress(m_strProduct, nFresh), szUrl) || strLocalPath.size() >= kListPathCap)
        return FETCH_NOT_FOUND;
    ListCheck sane;
    SignedCheck check(sane);
    m_guard.HoldList(check);  // signed releases: exactly the signed list
    FetchResult result = m_fetchers[0]->Fetch(szUrl, strLocalPath.c_str(), &check, true);
    OnSlotEnd(0);
    return result;
}

bool UpdateSession::CompareWithLocalFiles(const std::vector<FileEntry>& remote) {
    try {
        std::vector<FileEntry> local;
        if (m_bCancel) return false;
        m_localState.Load(FindProgramFolder(), m_strProduct);
        ScanContext context;
        context.pCancel = &m_bCancel;
        context.pState = &m_localState;
        // Signed releases: installed files are judged by their signed size and SHA-256.
        if (m_guard.InForce()) context.signedFile = [this](const FileEntry& e) { return m_guard.SignedFile(e); };
        ScanLocalFiles(remote, local, context);
        if (m_bCancel) return false;
        m_updateList = BuildUpdateList(remote, local);
        g_updateList = m_updateList;
        return true;
    } catch (const std::bad_alloc&) {
        // A list too big for memory is as good as no list.
        OnStatus(STATUS_TEXT, TEXT_LIST_FAILED);
        PauseUnlessCancelled(kListFailedPauseMs);
        return false;
    }
}

// Every entry waits for a free slot, folders too: with one slot this is the
// sequential run, entry by entry, and a folder exists before any file listed
// after it is started.
bool UpdateSession::WalkUpdateList(int nConnections) {
    std::set<std::string> keys;
    TransferPool pool(m_bCancel);
    if (!pool.Start(nConnections)) {
        // No worker to fetch with: say so, as any run that can't go on does.
        OnStatus(STATUS_TEXT, TEXT_INIT_FAILED);
        PauseUnlessCancelled(kListFailedPauseMs);
        return false;
    }
    for (const FileEntry& entry : m_updateList) {
        if (m_bCancel) break;
        if (IsSkippedEntry(entry.m_strDir, entry.m_strName)) {
            fw::LogFormat("file: %.260s skipped", LocalPathOf(entry).c_str());
            continue;
        }
        if (entry.m_nKind == ENTRY_DIR) {
            if (!pool.WaitForSlot()) break;
            std::string strPath = LocalPathOf(entry);
            if (strPath.size() < kPathCap) MakeDirectoryPath(strPath.c_str());
            fw::LogFormat("folder: %.260s made", strPath.c_str());
            ProgressStep();
            continue;
        }
        // Two spellings of one local file take turns; the later one finds
        // the file as the earlier left it and compares before it fetches.
        std::string strKey = LocalPathKey(LocalPathOf(entry));
        bool bRepeat = !keys.insert(strKey).second;
        if (!pool.Submit(strKey, [this, &entry, bRepeat](int nSlot) { FetchEntry(nSlot, entry, bRepeat); })) break;
    }
    pool.WaitIdle();
    pool.Stop();
    return !m_bCancel;
}

// On a worker: one file, its result, its message, its log line and its progress step.
void UpdateSession::FetchEntry(int nSlot, const FileEntry& entry, bool bRepeat) {
    std::string strLocal = LocalPathOf(entry);
    EntryTrace trace;
    if (bRepeat && strLocal.size() < kPathCap && FileChecksum(strLocal.c_str(), -1, &m_bCancel) == entry.m_nCrc) {
        LogOutcome(nSlot, entry, "kept", trace, nullptr);
        ProgressStep();
        return;
    }
    TakeSlotBytes(nSlot);
    fw::ClearLastFailure();
    FetchResult result = FetchEntryFile(*m_fetchers[nSlot], entry, trace);
    OnSlotEnd(nSlot);
    if (m_bCancel || result == FETCH_CANCELLED) {
        LogOutcome(nSlot, entry, "called off", trace, nullptr);
        return;
    }
    if (result != FETCH_DONE) {
        const char* pszText = result == FETCH_DISK_FULL ? TEXT_DISK_FULL : TEXT_FILE_FAILED;
        m_pszFailure = pszText;
        OnStatus(STATUS_TEXT, pszText);
        LogOutcome(nSlot, entry, "failed", trace, pszText);
        return;
    }
    if (EqualsNoCaseAZ(entry.m_strName, "selfrenew.exe")) g_bSelfUpdated = 1;
    // What was just written is known: the next run need not read it.
    const ManifestFile* pSigned = m_guard.SignedFile(entry);
    m_localState.KeepInstalled(strLocal, LocalStateKey(entry.m_strDir, entry.m_strName), entry.m_nCrc,
                               pSigned ? pSigned->m_sha256 : nullptr);
    const char* pszHow = trace.pszPartial ? trace.pszPartial : (trace.bResumed ? "resumed" : "whole");
    LogOutcome(nSlot, entry, pszHow, trace, nullptr);
    ProgressStep();
}

void UpdateSession::LogOutcome(int nSlot, const FileEntry& entry, const char* pszHow, const EntryTrace& trace,
                               const char* pszMessage) {
    EntryNote note;
    note.strPath = LocalPathOf(entry);
    note.pszHow = pszHow;
    note.nBytes = TakeSlotBytes(nSlot);
    if (trace.nTries > 0 && trace.nServer < m_serverNames.size()) note.strServer = m_serverNames[trace.nServer];
    note.nTries = trace.nTries;
    if (pszMessage) {
        note.strReason = fw::LastFailure();
        note.strMessage = pszMessage;
    }
    LogEntry(note);
}

// A file comes from the run's server; one that fails there is tried on the
// other servers before it counts as failed. A changed large file tries the
// delta on every server first, then the whole file on every server.
FetchResult UpdateSession::FetchEntryFile(HttpFetcher& fetcher, const FileEntry& entry, EntryTrace& trace) {
    std::string strLocal = LocalPathOf(entry);
    std::string strPath = ServerPath(m_strProduct, "release/" + ListedPath(entry.m_strDir, entry.m_strName));
    // Longer paths don't fit the fixed buffers: the entry counts as a failed transfer.
    if (entry.m_strName.size() >= kPathCap || strLocal.size() >= kPathCap || strPath.size() >= kPathCap)
        return FETCH_NOT_FOUND;
    CrcCheck crc(entry.m_nCrc);
    SignedCheck check(crc);
    // Signed releases: nothing the manifest doesn't sign is fetched at all.
    if (!m_guard.HoldFile(entry, check)) return FETCH_REJECTED;
    fetcher.m_hInternet = m_routes.Root(m_nServer);
    fetcher.m_hConnect = m_routes.Connection(m_nServer);
    // A patch made against the installed copy, then the block delta, then the whole file.
    uint64_t nFresh = 0;
    FetchResult result = FetchPatched(fetcher, entry, strLocal, check, nFresh);
    trace.pszPartial = "patch";
    if (result != FETCH_DONE && result != FETCH_CANCELLED && result != FETCH_DISK_FULL) {
        result = FetchChangedBlocks(fetcher, entry, strLocal, check, nFresh);
        trace.pszPartial = "delta";
    }
    if (result == FETCH_DONE || result == FETCH_CANCELLED || result == FETCH_DISK_FULL) {
        trace.nTries = 1;
        trace.nServer = m_nServer;
        return result;
    }
    trace.pszPartial = nullptr;
    result = FETCH_FAILED;
    auto attempt = [&](uint64_t nAddress) {
        char szUrl[kAddressCap];
        if (!CopyPath(FileAddress(m_strProduct, entry.m_strDir, entry.m_strName, entry.m_nCrc, nAddress), szUrl))
            return FETCH_NOT_FOUND;
        return fetcher.Fetch(szUrl, strLocal.c_str(), &check);
    };
    const size_t nServers = m_routes.Count();
    for (size_t n = 0; n < nServers && !m_bCancel; ++n) {
        size_t i = ServerInTurn(n, m_nServer);
        if (m_routes.Connection(i) == nullptr) continue;
        result = FetchWithRetries(
            [&](uint64_t nAddress) { return OnRoute(fetcher, i, [&] { return attempt(nAddress); }, &trace); }, true,
            nFresh);
        if (result == FETCH_DONE || result == FETCH_CANCELLED || result == FETCH_DISK_FULL) break;
    }
    return result;
}

// A transient failure (connection lost, body cut, 5xx, a stall) is tried
// again after a short, growing pause; a cut file of some size resumes where it
// stopped. A body whose checksum differs is fetched once more when asked, as
// always; a second mismatch leaves the installed file as it was. A cache may
// hold the wrong bytes under an address, so after a body failed its check
// every later try asks another one (nFresh).
FetchResult UpdateSession::FetchWithRetries(const std::function<FetchResult(uint64_t nFresh)>& attempt,
                                            bool bRefetchRejected, uint64_t& nFresh) {
    bool bFetchedAgain = !bRefetchRejected;
    for (int nRetry = 0;;) {
        FetchResult result = attempt(nFresh);
        if (result == FETCH_REJECTED) nFresh = FreshToken();
        if (result == FETCH_REJECTED && !bFetchedAgain && !m_bCancel) {
            bFetchedAgain = true;
            continue;
        }
        if (result != FETCH_FAILED || nRetry >= kMaxRetries) return result;
        if (!PauseUnlessCancelled(kFirstRetryPauseMs << nRetry++)) return FETCH_CANCELLED;
    }
}
