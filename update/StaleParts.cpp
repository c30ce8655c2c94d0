// Removing orphaned temporary files; see StaleParts.h.
#include "update/StaleParts.h"

#include <windows.h>

#include <set>
#include <string>

#include "update/PathRules.h"

namespace {

const char kPart[] = ".part";
const char kNote[] = ".part.v";

bool IsRootDir(const std::string& strDir) { return strDir == "/" || strDir == "\\"; }

std::string FolderOf(const FileEntry& entry) { return IsRootDir(entry.m_strDir) ? std::string() : entry.m_strDir + "\\"; }

bool EndsWithNoCase(const std::string& s, const char* pszSuffix, size_t nSuffix) {
    return s.size() > nSuffix && EqualsNoCaseAZ(s.substr(s.size() - nSuffix), pszSuffix);
}

// The target a temporary file of ours stands for, or "" for any other name.
std::string TargetOf(const std::string& strName) {
    if (EndsWithNoCase(strName, kNote, sizeof kNote - 1)) return strName.substr(0, strName.size() - (sizeof kNote - 1));
    if (EndsWithNoCase(strName, kPart, sizeof kPart - 1)) return strName.substr(0, strName.size() - (sizeof kPart - 1));
    return std::string();
}

void SweepFolder(const std::string& strFolder, const std::set<std::string>& listed) {
    WIN32_FIND_DATAA data = {};
    HANDLE hFind = FindFirstFileA((strFolder + "*.part*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string strTarget = TargetOf(data.cFileName);
        if (strTarget.empty() || listed.count(LocalPathKey(strFolder + strTarget))) continue;
        if (!DeleteFileA((strFolder + data.cFileName).c_str()))
            OutputDebugStringA(("RemoveOrphanParts: can't remove " + strFolder + data.cFileName).c_str());
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
}

}  // namespace

void RemoveOrphanParts(const std::vector<FileEntry>& remote) {
    std::set<std::string> listed, folders;
    for (const FileEntry& entry : remote) {
        if (entry.m_nKind != ENTRY_FILE || !IsSafeEntry(entry.m_strDir, entry.m_strName)) continue;
        listed.insert(LocalPathKey(FolderOf(entry) + entry.m_strName));
        folders.insert(FolderOf(entry));
    }
    for (const std::string& strFolder : folders) SweepFolder(strFolder, listed);
}
