// The update run: connect, fetch the product's file list, compare, then fetch
// every missing or changed file and create every missing folder.
#include <windows.h>
#include <direct.h>
#include <shlwapi.h>

#include <cstring>

#include "framework/Handles.h"
#include "res/Texts.h"
#include "ui/Layout.h"
#include "update/Checksum.h"
#include "update/UpdateSession.h"

namespace {

// Names, local paths and URL paths live in 260-byte buffers, the list's path in 520.
const size_t kPathCap = 260;
const size_t kListPathCap = 520;

bool EqualsNoCase(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

bool IsRootDir(const std::string& strDir) { return strDir == "/" || strDir == "\\"; }

std::string LocalPathOf(const FileEntry& entry) {
    return IsRootDir(entry.m_strDir) ? entry.m_strName : entry.m_strDir + "\\" + entry.m_strName;
}

void Repaint(const RepaintArea& area) { InvalidateArea(area.left, area.top, area.width, area.height); }

}  // namespace

void MakeDirectoryPath(const char* pszPath) {
    char szPath[kPathCap] = {};
    size_t n = 0;
    for (const char* p = pszPath; *p && n + 1 < sizeof(szPath); ++p) {
        // A double-byte character is copied whole: its trail byte may equal "\".
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
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

bool UpdateSession::FetchFileList(const std::string& strLocalPath) {
    std::string strUrl = "/kroupdate/" + m_strProduct + "/filelist.list";
    char szUrl[kPathCap] = {};
    if (strUrl.size() >= sizeof(szUrl) || strLocalPath.size() >= kListPathCap) return false;
    std::memcpy(szUrl, strUrl.c_str(), strUrl.size());
    return GetFile(szUrl, strLocalPath.c_str());
}

bool UpdateSession::RunUpdate() {
    m_nTotalProgress = 0;
    Repaint(TotalBarArea());
    fw::InternetHandle root(InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!root.IsValid()) {
        OnStatus(STATUS_TEXT, TEXT_INIT_FAILED);
        return false;
    }
    OnStatus(STATUS_TEXT, TEXT_CONNECTING);
    fw::InternetHandle connect(InternetConnectA(root.Get(), m_strServerHost.c_str(), m_nServerPort, "", "",
                                                INTERNET_SERVICE_HTTP, 0, 0));
    if (!connect.IsValid()) {
        OnStatus(STATUS_TEXT, TEXT_CONNECT_FAILED);
        return false;
    }
    m_hInternet = root.Get();
    m_hConnect = connect.Get();
    bool bResult = RunWithConnection();
    // The handles close with their holders; nothing may use them afterwards.
    m_hConnect = nullptr;
    m_hInternet = nullptr;
    return bResult;
}

bool UpdateSession::RunWithConnection() {
    _mkdir("UpdateINI");
    MakeDirectoryPath(("UpdateINI/" + m_strProduct).c_str());
    std::string strListPath = "UpdateINI/" + m_strProduct + "/files.ini";
    if (!FetchFileList(strListPath)) {
        OnStatus(STATUS_TEXT, TEXT_LIST_FAILED);
        Sleep(2000);
        return false;
    }
    std::vector<FileEntry> remote;
    std::vector<FileEntry> local;
    ReadFileList(strListPath.c_str(), remote);
    ScanLocalFiles(remote, local);
    BuildUpdateList(remote, local);
    if (g_updateList.empty()) {
        OnStatus(STATUS_TEXT, TEXT_DONE);
        Repaint(DoneEmptyArea());
        return true;
    }
    OnStatus(STATUS_TEXT, TEXT_STARTING);
    m_nFileCount = static_cast<int>(g_updateList.size());
    m_nFileIndex = 0;
    for (const FileEntry& entry : g_updateList) {
        if (m_bCancel) return false;
        HandleEntry(entry);
    }
    OnStatus(STATUS_TEXT, TEXT_DONE);
    Repaint(DoneArea());
    Sleep(1000);
    return true;
}

void UpdateSession::HandleEntry(const FileEntry& entry) {
    if (EqualsNoCase(entry.m_strDir, "UpdateINI") || EqualsNoCase(entry.m_strName, "winmm.dll")) return;
    if (entry.m_nKind == ENTRY_DIR) {
        std::string strPath = LocalPathOf(entry);
        if (strPath.size() < kPathCap) MakeDirectoryPath(strPath.c_str());
        ProgressStep();
        return;
    }
    if (!FetchEntryFile(entry)) {
        OnStatus(STATUS_TEXT, TEXT_FILE_FAILED);
        return;
    }
    if (EqualsNoCase(entry.m_strName, "selfrenew.exe")) g_bSelfUpdated = 1;
    ProgressStep();
}

// Fetches one file; a copy whose checksum differs from the list is fetched once more.
bool UpdateSession::FetchEntryFile(const FileEntry& entry) {
    std::string strLocal = LocalPathOf(entry);
    std::string strUrl = "/kroupdate/" + m_strProduct + "/release/" +
                         (IsRootDir(entry.m_strDir) ? entry.m_strName : entry.m_strDir + "/" + entry.m_strName);
    // Longer paths don't fit the fixed buffers: the entry counts as a failed transfer.
    if (entry.m_strName.size() >= kPathCap || strLocal.size() >= kPathCap || strUrl.size() >= kPathCap)
        return false;
    char szUrl[kPathCap] = {};
    std::memcpy(szUrl, strUrl.c_str(), strUrl.size());
    if (!GetFile(szUrl, strLocal.c_str())) return false;
    if (PathFileExistsA(strLocal.c_str()) && FileChecksum(strLocal.c_str(), -1) != entry.m_nCrc)
        GetFile(szUrl, strLocal.c_str());
    return true;
}

void UpdateSession::ProgressStep() {
    int nCount = m_nFileCount;
    if (nCount > 0) {
        m_nTotalProgress = static_cast<int>((m_nFileIndex + 1) * 10000LL / nCount);
        Repaint(TotalBarArea());
    }
    ++m_nFileIndex;
}
