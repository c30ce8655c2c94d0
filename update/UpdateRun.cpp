// The update run: connect, fetch the product's file list, compare, then walk
// the work list in order, creating each missing folder at its place and
// handing each file to a free transfer slot.
#include "update/UpdateRun.h"

#include <mmsystem.h>

#include <new>
#include <set>

#include "framework/SupportLog.h"
#include "res/Texts.h"
#include "res/version.h"
#include "update/Checksum.h"
#include "update/LocalScan.h"
#include "update/MakeFolders.h"
#include "update/PathRules.h"
#include "update/RunLog.h"
#include "update/RunResult.h"
#include "update/ServerPaths.h"
#include "update/StaleParts.h"
#include "update/TransferPool.h"
#include "update/UpdatePaths.h"

namespace {

const size_t kPathCap = 260;
const size_t kListPathCap = 520;
// A list beyond this is no list of ours; reading it would only exhaust memory.
const uint64_t kMaxListBytes = 64ull * 1024 * 1024;
// Pauses that let the player read the last message.
const DWORD kListFailedPauseMs = 2000;
const DWORD kDonePauseMs = 1000;
// FetchListFromAnyServer's reasons when no server's list was taken.
const int kNoConnection = -1;  // no connection at all
const int kNoList = -2;        // no server gave a readable list
const int kRefusedList = -3;   // no good signed release, and some server's was refused

void SetConnectionLimit(int nConnections) {
    DWORD n = static_cast<DWORD>(nConnections);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &n, sizeof(n));
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &n, sizeof(n));
}

uint64_t FileSizeOf(const std::string& strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

UpdateRun::UpdateRun(const UpdateSettings& settings, ProgressModel& progress)
    : m_settings(settings), m_progress(progress),
      m_shared{m_settings, m_routes, m_guard, m_localState, m_cancel, m_disk, m_bandwidth, 0} {
    m_guard.SetKey(m_settings.Key());
}

void UpdateRun::Execute() {
    m_dwStart = timeGetTime();
    bool bResult = false;
    // Nothing may leave the thread: a run that throws has failed.
    try {
        bResult = Run();
    } catch (...) {
        fw::LogFailure("RunUpdate: ended by an exception");
    }
    m_fetchers.clear();
    m_routes.Close();
    const bool bCancelled = m_cancel.IsCancelled();
    LogRunEnd(bResult, bCancelled, timeGetTime() - m_dwStart, m_progress.LineBytes(), m_progress.LastMessage());
    // Support may move or delete the file between runs.
    fw::CloseSupportLog();
    // A run that was called off leaves the result and the window to whoever
    // called it off.
    if (bCancelled) return;
    g_bRunResult = bResult ? 1 : 0;
    m_progress.FillTotal();
    m_progress.RunEnded();
}

bool UpdateRun::Run() {
    m_pszFailure = nullptr;
    m_progress.StartRun();
    m_bandwidth.SetRate(static_cast<uint32_t>(m_settings.nLimitKiB) * 1024);
    const bool bOpened = m_routes.Open(SELFRENEW_USER_AGENT);
    OpenRunLog();
    if (!bOpened) {
        fw::LogFailureFormat("InternetOpenA failed, error %lu", GetLastError());
        m_progress.SetMessage(TEXT_INIT_FAILED);
        return false;
    }
    if (m_settings.servers.empty()) {
        m_progress.SetMessage(TEXT_CONNECTING);
        return FailWith(TEXT_LIST_FAILED);
    }
    SetConnectionLimit(MAX_CONNECTIONS);
    std::vector<std::pair<std::string, unsigned short>> targets;
    for (const UpdateServer& server : m_settings.servers) targets.emplace_back(server.strHost, server.nPort);
    m_routes.Connect(targets);
    return RunWithServers();
}

bool UpdateRun::FailWith(const char* pszText) {
    m_progress.SetMessage(pszText);
    m_cancel.Pause(kListFailedPauseMs);
    return false;
}

// The support log lies beside the run's other files; its first lines say
// what this run was asked to do and how it goes out.
void UpdateRun::OpenRunLog() {
    const std::string strProgramDir = FindProgramFolder();
    CreateDirectoryA(UpdateIniFolder(strProgramDir).c_str(), nullptr);
    fw::OpenSupportLog(SupportLogPath(strProgramDir).c_str());
    RunStartNote note;
    note.strStartParam = m_settings.strStartParam;
    note.strProduct = m_settings.strProduct;
    note.pRows = &m_settings.rows;
    for (size_t i = 0; i < m_settings.servers.size(); ++i) note.servers.push_back(m_settings.ServerName(i));
    note.strRoute = m_routes.Describe();
    note.bSigned = m_guard.InForce();
    note.nLimitKiB = m_settings.nLimitKiB;
    LogRunStart(note);
}

bool UpdateRun::RunWithServers() {
    MakeDirectoryPath(m_settings.StateFolder().c_str());
    std::vector<FileEntry> remote;
    int nServer = FetchListFromAnyServer(remote);
    if (nServer < 0) {
        if (m_cancel.IsCancelled()) return false;
        // One server whose connection can't even be set up: the old message, at once.
        if (nServer == kNoConnection) {
            m_progress.SetMessage(TEXT_CONNECT_FAILED);
            return false;
        }
        return FailWith(nServer == kRefusedList ? TEXT_LIST_REFUSED : TEXT_LIST_FAILED);
    }
    m_shared.nHome = static_cast<size_t>(nServer);
    // Signed releases: once accepted and its list taken, nothing older may
    // install, even where some file of this one fails for good.
    m_guard.StoreSerial();
    if (!CompareWithLocalFiles(remote)) return false;
    // A killed run's part of a file this release dropped would stay for good.
    RemoveOrphanParts(remote);
    LogListTaken(m_settings.ServerName(nServer), FileSizeOf(m_settings.ListPath()), m_guard.Serial(), remote.size(),
                 m_updateList.size());
    if (m_updateList.empty()) {
        m_localState.Save(false);
        m_progress.SetMessage(TEXT_DONE);
        m_progress.Notify(AREA_DONE_EMPTY);
        return true;
    }
    m_progress.SetMessage(TEXT_STARTING);
    m_progress.SetFileCount(static_cast<int>(m_updateList.size()));
    const int nConnections = m_settings.servers[nServer].nConnections;
    MakeFetchers(nConnections);
    const bool bWalked = WalkUpdateList(nConnections);
    // A failed file, or a walk called off, leaves the next run a full scan.
    const char* pszFailure = m_pszFailure;
    m_localState.Save(pszFailure != nullptr || !bWalked);
    if (!bWalked) return false;
    // A failed entry's message stays: "complete" would hide it.
    m_progress.SetMessage(pszFailure ? pszFailure : TEXT_DONE);
    m_progress.Notify(AREA_DONE);
    m_cancel.Pause(kDonePauseMs);
    return true;
}

void UpdateRun::MakeFetchers(int nCount) {
    m_fetchers.clear();
    m_progress.SetSlots(nCount);
    for (int i = 0; i < nCount; ++i) m_fetchers.push_back(std::make_unique<HttpFetcher>(&m_progress.SlotEvents(i)));
}

// The chosen server first, then the others in their fixed order: the first
// whose list arrives and reads is the run's server. Its index, or a reason.
int UpdateRun::FetchListFromAnyServer(std::vector<FileEntry>& remote) {
    bool bAnyConnection = false;
    bool bRefused = false;
    MakeFetchers(1);
    for (size_t i = 0; i < m_routes.Count() && !m_cancel.IsCancelled(); ++i) {
        m_progress.SetMessage(TEXT_CONNECTING);
        if (m_routes.Connection(i) == nullptr) continue;
        bAnyConnection = true;
        bool bThisRefused = false;
        int nTries = 0;
        auto attempt = [&](uint64_t nFresh) {
            return m_routes.Try(i, *m_fetchers[0], m_cancel, [&](HINTERNET hRoot, HINTERNET hConnect) {
                return FetchListFrom(Way{hRoot, hConnect}, remote, nFresh, bThisRefused);
            }, &nTries);
        };
        FetchResult result = attempt(0);
        // A cache on the way may hold an older list or signature than the
        // origin: once more at addresses no cache has seen.
        if (result == FETCH_REJECTED && !m_cancel.IsCancelled()) result = attempt(FreshToken());
        if (result == FETCH_DONE) return static_cast<int>(i);
        bRefused = bRefused || bThisRefused;
    }
    if (bRefused) return kRefusedList;
    return bAnyConnection || m_routes.Count() > 1 ? kNoList : kNoConnection;
}

// Signed releases: this server's manifest first, then only the list it signs;
// a server that serves anything else is passed over, and bRefused says it
// served a release that isn't good (it stays set). FETCH_REJECTED when a body failed its check.
FetchResult UpdateRun::FetchListFrom(const Way& way, std::vector<FileEntry>& remote, uint64_t nFresh,
                                     bool& bRefused) {
    remote.clear();
    auto download = [&](const std::string& strAddress, const std::string& strLocal, BodyCheck& check) {
        FileRequest request{way.hConnect, strAddress, strLocal, &check, true};
        return m_fetchers[0]->Fetch(m_shared.Context(way.hRoot), request);
    };
    FetchResult result = m_guard.Start(download, m_settings.strProduct, "", m_settings.SignaturePath(), nFresh);
    if (m_guard.InForce()) m_progress.SlotEnded(0);
    if (result != FETCH_DONE) {
        bRefused = bRefused || result == FETCH_REJECTED || result == FETCH_NOT_FOUND;
        return result;
    }
    result = FetchFileList(way, nFresh);
    bRefused = bRefused || m_guard.ListRefused();
    if (result == FETCH_DONE && !ReadListFile(remote)) return FETCH_FAILED;
    return m_guard.ListRefused() ? FETCH_REJECTED : result;
}

FetchResult UpdateRun::FetchFileList(const Way& way, uint64_t nFresh) {
    const std::string& strProduct = m_settings.strProduct;
    FileRequest request{way.hConnect, ListAddress(strProduct, nFresh), m_settings.ListPath(), nullptr, true};
    if (ServerPath(strProduct, "filelist.list").size() >= kPathCap || request.strPath.size() >= kAddressCap ||
        request.strLocal.size() >= kListPathCap)
        return FETCH_NOT_FOUND;
    SizeCheck sane(kMaxListBytes);
    SignedCheck check(sane);
    m_guard.HoldList(check);  // signed releases: exactly the signed list
    request.pCheck = &check;
    FetchResult result = m_fetchers[0]->Fetch(m_shared.Context(way.hRoot), request);
    m_progress.SlotEnded(0);
    return result;
}

// An error page served as the list reads as no entries at all; an empty file
// is a release without files.
bool UpdateRun::ReadListFile(std::vector<FileEntry>& remote) {
    const std::string strListPath = m_settings.ListPath();
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

bool UpdateRun::CompareWithLocalFiles(const std::vector<FileEntry>& remote) {
    try {
        std::vector<FileEntry> local;
        if (m_cancel.IsCancelled()) return false;
        m_localState.Load(FindProgramFolder(), m_settings.strProduct);
        ScanContext context;
        context.pCancel = &m_cancel.Flag();
        context.pState = &m_localState;
        // Signed releases: installed files are judged by their signed size and SHA-256.
        if (m_guard.InForce()) context.signedFile = [this](const FileEntry& e) { return m_guard.SignedFile(e); };
        ScanLocalFiles(remote, local, context);
        if (m_cancel.IsCancelled()) return false;
        m_updateList = BuildUpdateList(remote, local);
        g_updateList = m_updateList;
        return true;
    } catch (const std::bad_alloc&) {
        // A list too big for memory is as good as no list.
        return FailWith(TEXT_LIST_FAILED);
    }
}

// Every entry waits for a free slot, folders too: with one slot this is the
// sequential run, entry by entry, and a folder exists before any file listed
// after it is started.
bool UpdateRun::WalkUpdateList(int nConnections) {
    std::set<std::string> keys;
    TransferPool pool(m_cancel);
    // No worker to fetch with: say so, as any run that can't go on does.
    if (!pool.Start(nConnections)) return FailWith(TEXT_INIT_FAILED);
    for (const FileEntry& entry : m_updateList) {
        if (m_cancel.IsCancelled()) break;
        if (IsSkippedEntry(entry.m_strDir, entry.m_strName)) {
            fw::LogFormat("file: %.260s skipped", LocalPathOf(entry).c_str());
            continue;
        }
        if (entry.m_nKind == ENTRY_DIR) {
            if (!pool.WaitForSlot()) break;
            std::string strPath = LocalPathOf(entry);
            if (strPath.size() < kPathCap) MakeDirectoryPath(strPath.c_str());
            fw::LogFormat("folder: %.260s made", strPath.c_str());
            m_progress.EntryDone();
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
    return !m_cancel.IsCancelled();
}

// On a worker: one file, its result, its message, its log line and its progress step.
void UpdateRun::FetchEntry(int nSlot, const FileEntry& entry, bool bRepeat) {
    const std::string strLocal = LocalPathOf(entry);
    if (bRepeat && strLocal.size() < kPathCap && FileChecksum(strLocal.c_str(), -1, &m_cancel.Flag()) == entry.m_nCrc) {
        LogOutcome(entry, "kept", FileOutcome(), nullptr);
        m_progress.EntryDone();
        return;
    }
    fw::ClearLastFailure();
    FilePolicy policy(m_shared, *m_fetchers[nSlot]);
    const FileOutcome outcome = policy.Fetch(entry);
    m_progress.SlotEnded(nSlot);
    if (m_cancel.IsCancelled() || outcome.result == FETCH_CANCELLED) {
        LogOutcome(entry, "called off", outcome, nullptr);
        return;
    }
    if (outcome.result != FETCH_DONE) {
        const char* pszText = outcome.result == FETCH_DISK_FULL ? TEXT_DISK_FULL : TEXT_FILE_FAILED;
        m_pszFailure = pszText;
        m_progress.SetMessage(pszText);
        LogOutcome(entry, "failed", outcome, pszText);
        return;
    }
    if (EqualsNoCaseAZ(entry.m_strName, "selfrenew.exe")) g_bSelfUpdated = 1;
    // What was just written is known: the next run need not read it.
    const ManifestFile* pSigned = m_guard.SignedFile(entry);
    m_localState.KeepInstalled(strLocal, LocalStateKey(entry.m_strDir, entry.m_strName), entry.m_nCrc,
                               pSigned ? pSigned->m_sha256 : nullptr);
    LogOutcome(entry, outcome.pszHow, outcome, nullptr);
    m_progress.EntryDone();
}

void UpdateRun::LogOutcome(const FileEntry& entry, const char* pszHow, const FileOutcome& outcome,
                           const char* pszMessage) {
    EntryNote note;
    note.strPath = LocalPathOf(entry);
    note.pszHow = pszHow;
    note.nBytes = outcome.nBytes;
    if (outcome.nTries > 0) note.strServer = m_settings.ServerName(outcome.nServer);
    note.nTries = outcome.nTries;
    if (pszMessage) {
        note.strReason = outcome.strReason;
        note.strMessage = pszMessage;
    }
    LogEntry(note);
}
