// The one update session: the server rows, the product, and the run it owns
// outright (its thread, its transfer slots, work list, counters, status and
// cancel flag). The window reads one snapshot and is told what changed
// through UpdateListener.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "net/HttpFetcher.h"
#include "update/FileList.h"
#include "update/LocalState.h"
#include "update/ReleaseGuard.h"
#include "update/ServerRoutes.h"
#include "update/UpdateConfig.h"
#include "update/UpdateListener.h"

// One update server of a run.
struct UpdateServer {
    std::string strHost;
    unsigned short nPort = 0;
    int nConnections = DEFAULT_CONNECTIONS;  // parallel transfers to it
};

class UpdateSession {
public:
    UpdateSession();
    virtual ~UpdateSession();  // stops and joins a run that still goes on
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    // The run's status events (FETCH_BEGIN, FETCH_END, STATUS_TEXT) from any of
    // its threads: sets the status line and asks for its repaint.
    virtual void OnStatus(int nKind, const char* pszText);

    bool SetProduct(const char* pszProduct);
    // The start parameter the program was given, for the support log.
    void SetStartParam(const char* pszParam) { m_strStartParam = pszParam; }
    void LoadUpdateServers();
    // Chooses a row of nLineKey and starts the run on it. Without a usable row
    // it still starts a run, which ends like one whose server can't be
    // reached, and returns false.
    bool StartUpdateRun(int nLineKey);
    bool StartRunThread(const char* pszHost, unsigned short nPort, int nConnections = DEFAULT_CONNECTIONS);
    bool StartRun(const std::vector<UpdateServer>& servers);
    // Calls the run off without waiting; safe from any thread.
    void CancelRun();
    // Calls the run off and waits for its threads until nWaitMs after the run
    // was first called off. False when a transfer the platform can't wake
    // still holds them.
    bool StopRun(DWORD nWaitMs);

    void SetListener(UpdateListener* pListener);
    // How long a request may receive nothing before it fails (30 s unless set).
    void SetStallLimit(DWORD nMs) { m_nStallLimitMs = nMs; }
    // The run's bandwidth cap in KiB per second (0: none); update.ini's
    // "limit=N" sets it too. Not during a run.
    void SetBandwidthLimit(unsigned nKiB) { m_nLimitKiB = nKiB; }
    // Signed releases: the key (X||Y, 64 bytes) they must verify with, nullptr
    // for unsigned updates. The built-in key unless set; not during a run.
    void SetUpdateKey(const unsigned char* pKey) { m_guard.SetKey(pKey); }

    ProgressSnapshot Snapshot() const;
    std::string GetStatus() const;
    const std::vector<UpdateServerRow>& ServerRows() const { return m_lstUpdateServers; }
    // The servers of the run started last, the one to try first at the front.
    std::vector<UpdateServer> RunServers() const;

private:
    class SlotFetcher;
    struct Slot {
        bool bRunning = false;
        unsigned long long nStarted = 0;  // order of the transfers' starts
        int nProgress = 0;
        std::string strStatus;  // the status line this slot's transfer last set
        uint64_t nMoved = 0;    // bytes since TakeSlotBytes
    };

    // What one entry's fetch went through, for its line in the log.
    struct EntryTrace {
        int nTries = 0;
        size_t nServer = 0;
        const char* pszPartial = nullptr;  // "patch" or "delta": only what changed came
        bool bResumed = false;
    };

    static DWORD WINAPI UpdateRunThreadProc(LPVOID pParam);
    bool RunUpdate();
    bool RunWithServers(const std::vector<UpdateServer>& servers);
    int FetchListFromAnyServer(const std::string& strListPath, std::vector<FileEntry>& remote);
    FetchResult OnRoute(HttpFetcher& fetcher, size_t i, const std::function<FetchResult()>& attempt,
                        EntryTrace* pTrace = nullptr);
    void OpenRunLog(const std::vector<UpdateServer>& servers);
    void LogOutcome(int nSlot, const FileEntry& entry, const char* pszHow, const EntryTrace& trace,
                    const char* pszMessage);
    bool ReadListFile(const std::string& strListPath, std::vector<FileEntry>& remote);
    FetchResult FetchListFrom(const std::string& strListPath, std::vector<FileEntry>& remote, uint64_t nFresh,
                              bool& bRefused);
    FetchResult FetchFileList(const std::string& strLocalPath, uint64_t nFresh);
    bool CompareWithLocalFiles(const std::vector<FileEntry>& remote);
    bool WalkUpdateList(int nConnections);
    // bRepeat: another entry of the work list names the same local file.
    void FetchEntry(int nSlot, const FileEntry& entry, bool bRepeat);
    FetchResult FetchEntryFile(HttpFetcher& fetcher, const FileEntry& entry, EntryTrace& trace);
    FetchResult FetchWithRetries(const std::function<FetchResult(uint64_t nFresh)>& attempt, bool bRefetchRejected,
                                 uint64_t& nFresh);
    FetchResult FetchChangedBlocks(HttpFetcher& fetcher, const FileEntry& entry, const std::string& strLocal,
                                   BodyCheck& check, uint64_t& nFresh);
    FetchResult FetchPatched(HttpFetcher& fetcher, const FileEntry& entry, const std::string& strLocal,
                             BodyCheck& check, uint64_t& nFresh);
    std::string InstalledBaseName(const FileEntry& entry, const std::string& strLocal);
    void ProgressStep();
    void EndOfRun(bool bResult);
    bool PauseUnlessCancelled(DWORD nMs);
    void MakeFetchers(int nCount, HINTERNET hInternet, HINTERNET hConnect);
    void DetachFetchers();
    void CancelEverything();

    // Events of the slots' fetchers.
    void OnSlotStatus(int nSlot, int nKind, const char* pszText);
    void BeginSlotLocked(int nSlot);
    void OnSlotEnd(int nSlot);
    void OnSlotProgress(int nSlot, int nValue);
    void OnSlotBlock(int nSlot, DWORD nBytes);
    // The bytes slot nSlot moved since the last call.
    uint64_t TakeSlotBytes(int nSlot);
    int DisplaySlotLocked() const;
    void Notify(UpdateArea area);

    std::vector<UpdateServerRow> m_lstUpdateServers;
    std::string m_strProduct;
    std::string m_strStartParam;
    DWORD m_nStallLimitMs = 30000;
    ReleaseGuard m_guard;  // the signed release of the run, when a key is in force

    // The run's own state. m_lock guards everything below it but the atomics.
    fw::UniqueHandle m_runThread;
    std::atomic<bool> m_bCancel{false};
    std::atomic<DWORD> m_dwCancelTick{0};  // when the run was called off
    std::atomic<const char*> m_pszFailure{nullptr};  // message of the last failed entry
    mutable std::mutex m_lock;
    std::condition_variable m_cancelled;
    std::vector<UpdateServer> m_servers;
    // The run's way to each server, and the one whose list was accepted
    // (set before any transfer slot works).
    ServerRoutes m_routes;
    size_t m_nServer = 0;
    std::vector<std::string> m_serverNames;  // "host:port" per server, for the log
    DWORD m_dwRunStart = 0;
    static const int kNoConnection = -1;  // FetchListFromAnyServer: no connection at all
    static const int kNoList = -2;        // no server gave a readable list
    static const int kRefusedList = -3;   // no good signed release, and some server's was refused
    std::vector<FileEntry> m_updateList;
    LocalState m_localState;  // the quick check's rows, and those this run leaves
    std::vector<std::unique_ptr<HttpFetcher>> m_fetchers;  // one per transfer slot
    net::DiskBudget m_diskBudget;  // the free space the slots share
    net::BandwidthBudget m_bandwidth;  // the cap the slots share
    unsigned m_nLimitKiB = 0;          // update.ini's "limit=N", 0: none
    std::vector<Slot> m_slots;
    unsigned long long m_nStarts = 0;
    int m_nDisplaySlot = 0;
    int m_nFileProgress = 10000;
    int m_nTotalProgress = 10000;
    int m_nFileCount = 0;
    int m_nFileIndex = 0;
    std::string m_strStatus;
    unsigned long long m_nLineBytes = 0;
    unsigned long long m_nLastSampleBytes = 0;
    DWORD m_dwSpeedTick = 0;
    uint64_t m_nSpeed = 0;

    std::mutex m_listenerLock;
    UpdateListener* m_pListener = nullptr;
};

// The program's one update session.
extern UpdateSession g_updateSession;

// Results of the last run, read by the hand-off after the window has closed.
extern std::atomic<unsigned char> g_bRunResult;
extern std::atomic<unsigned char> g_bSelfUpdated;
// The work list of the last run, as its comparison built it.
extern std::vector<FileEntry> g_updateList;

// The server a file tries n-th: the run's server nHome first, then the
// others in their fixed order.
inline size_t ServerInTurn(size_t n, size_t nHome) { return n == 0 ? nHome : (n <= nHome ? n - 1 : n); }

// Creates every folder along a relative path ("a/b\\c" makes a, a\b, a\b\c).
void MakeDirectoryPath(const char* pszPath);
