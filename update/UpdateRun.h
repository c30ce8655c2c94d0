// One update run, from its settings to its end: the ways to the servers, the
// release guard, the local state, the budgets, the transfer slots and their
// fetchers. Only its own threads touch it; Cancel comes from any thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "framework/CancelToken.h"
#include "net/BandwidthBudget.h"
#include "net/DiskBudget.h"
#include "net/HttpFetcher.h"
#include "update/FileList.h"
#include "update/FilePolicy.h"
#include "update/LocalState.h"
#include "update/ProgressModel.h"
#include "update/ReleaseGuard.h"
#include "update/ServerRoutes.h"
#include "update/UpdateSettings.h"

class UpdateRun {
public:
    UpdateRun(const UpdateSettings& settings, ProgressModel& progress);
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // On the run's thread: the whole run, its log, and, unless it was called
    // off, its result for the hand-off and the window's close.
    void Execute();
    void Cancel() { m_cancel.Cancel(); }
    // When the run was called off (timeGetTime), 0 while it goes on.
    DWORD CancelledAt() const { return m_cancel.CancelledAt(); }

private:
    // The way a list attempt goes: the root and the connection.
    struct Way {
        HINTERNET hRoot;
        HINTERNET hConnect;
    };

    bool Run();
    void OpenRunLog();
    bool RunWithServers();
    int FetchListFromAnyServer(std::vector<FileEntry>& remote);
    FetchResult FetchListFrom(const Way& way, std::vector<FileEntry>& remote, uint64_t nFresh, bool& bRefused);
    FetchResult FetchFileList(const Way& way, uint64_t nFresh);
    bool ReadListFile(std::vector<FileEntry>& remote);
    bool CompareWithLocalFiles(const std::vector<FileEntry>& remote);
    bool WalkUpdateList(int nConnections);
    // bRepeat: another entry of the work list names the same local file.
    void FetchEntry(int nSlot, const FileEntry& entry, bool bRepeat);
    void LogOutcome(const FileEntry& entry, const char* pszHow, const FileOutcome& outcome, const char* pszMessage);
    void MakeFetchers(int nCount);
    // The run can't go on: the message, and a pause to read it.
    bool FailWith(const char* pszText);

    const UpdateSettings m_settings;
    ProgressModel& m_progress;
    fw::CancelToken m_cancel;
    ServerRoutes m_routes;
    ReleaseGuard m_guard;  // the signed release of the run, when a key is in force
    LocalState m_localState;  // the quick check's rows, and those this run leaves
    net::DiskBudget m_disk;
    net::BandwidthBudget m_bandwidth;
    RunShared m_shared;  // the above, for the per-file policy
    std::vector<std::unique_ptr<HttpFetcher>> m_fetchers;  // one per transfer slot
    std::vector<FileEntry> m_updateList;
    std::atomic<const char*> m_pszFailure{nullptr};  // message of the last failed entry
    DWORD m_dwStart = 0;
};
