// Looking the listed entries up under the program's folder.
#include <windows.h>
#include <shlwapi.h>

#include "update/Checksum.h"
#include "update/FileList.h"
#include "update/PathRules.h"

std::string g_strProgramDir;

void ScanFilesUnder(const std::string& strBaseDir, const std::vector<FileEntry>& remote,
                    std::vector<FileEntry>& local, const std::atomic<bool>* pCancel) {
    for (const FileEntry& r : remote) {
        if (pCancel && pCancel->load()) return;
        std::string strPath = strBaseDir + r.m_strDir;
        // "/" stays as listed: a slash before the backslash resolves to the same folder.
        if (r.m_strDir != "\\") strPath += '\\';
        strPath += r.m_strName;
        if (!PathFileExistsA(strPath.c_str())) continue;
        FileEntry found = r;
        found.m_nCrc = 0;
        // Folders, and files without a dot, are never compared.
        if (NameHasDot(r.m_strName)) found.m_nCrc = FileChecksum(strPath.c_str(), -1, pCancel);
        local.push_back(std::move(found));
    }
}

void ScanLocalFiles(const std::vector<FileEntry>& remote, std::vector<FileEntry>& local,
                    const std::atomic<bool>* pCancel) {
    char szPath[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    size_t nSlash = (n > 0 && n < MAX_PATH) ? MbcsFindLast(szPath, n, '\\') : std::string::npos;
    // Without a trustworthy folder, look in the current one (start-up made it
    // the program's folder): an empty prefix would turn "/" into a drive root.
    g_strProgramDir = nSlash == std::string::npos ? std::string(".\\") : std::string(szPath, nSlash + 1);
    ScanFilesUnder(g_strProgramDir, remote, local, pCancel);
}
