// The one update session: server rows, the chosen server, the run thread and
// the counters and status text the update window draws.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "net/HttpFetcher.h"
#include "ui/TextPainter.h"
#include "update/FileList.h"
#include "update/UpdateConfig.h"

class UpdateSession : public HttpFetcher {
public:
    UpdateSession();
    ~UpdateSession() override;

    void OnProgress(int nKind, int nValue) override;
    void OnStatus(int nKind, const char* pszText) override;

    bool SetProduct(const char* pszProduct);
    void LoadUpdateServers();
    bool StartUpdateRun(int nLineKey);
    bool StartRunThread(const char* pszHost, unsigned short nPort);

    // The status line, handed between writer and painter under a lock.
    std::string GetStatus() const;
    void SetStatus(const std::string& strStatus);

    std::atomic<int> m_nFileProgress{10000};  // share of the current file, ten-thousandths
    std::atomic<int> m_nTotalProgress{10000};
    std::atomic<int> m_nFileCount{0};
    std::atomic<int> m_nFileIndex{0};
    std::string m_strProduct;
    std::string m_strServerHost;
    unsigned short m_nServerPort = 0;
    std::vector<UpdateServerRow> m_lstUpdateServers;
    TextPainter m_textLarge;
    std::atomic<HANDLE> m_hRunThread{nullptr};  // the running run's thread; null when none runs

private:
    static DWORD WINAPI UpdateRunThreadProc(LPVOID pParam);
    bool RunUpdate();
    bool RunWithConnection();
    bool FetchFileList(const std::string& strLocalPath);
    void HandleEntry(const FileEntry& entry);
    bool FetchEntryFile(const FileEntry& entry);
    void ProgressStep();
    void StopRunThread();

    fw::UniqueHandle m_runThread;  // owns the handle m_hRunThread shows
    std::atomic<bool> m_bCancel{false};

    mutable std::mutex m_statusLock;
    std::string m_strStatus;
};

// The program's one update session (it is also the one fetcher).
extern UpdateSession g_updateSession;

// Shared with the window and start-up.
// Written by the window thread, read by the run and the fetcher threads.
extern std::atomic<HWND> g_hUpdateWnd;
extern unsigned char g_bRunResult;
extern unsigned char g_bSelfUpdated;

// Creates every folder along a relative path ("a/b\\c" makes a, a\b, a\b\c).
void MakeDirectoryPath(const char* pszPath);
// Marks a rectangle of the update window for repainting, background erased.
void InvalidateArea(int nLeft, int nTop, int nWidth, int nHeight);
