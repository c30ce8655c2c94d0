// Scratch files and folders for the file-list tests.
#include "lists/ListTestFiles.h"

#include <windows.h>

#include <cstdio>

namespace listtest {

bool WriteBytes(const std::string& strPath, const std::string& strBytes) {
    FILE* f = fopen(strPath.c_str(), "wb");
    if (!f) return false;
    bool bOk = fwrite(strBytes.data(), 1, strBytes.size(), f) == strBytes.size();
    return fclose(f) == 0 && bOk;
}

std::string ExeFolder() {
    char szPath[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string s(szPath, n);
    return s.substr(0, s.rfind('\\') + 1);
}

void RemoveTree(const std::string& strPath) {
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((strPath + "\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::string strName = data.cFileName;
            if (strName == "." || strName == "..") continue;
            std::string strChild = strPath + "\\" + strName;
            SetFileAttributesA(strChild.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(strChild);
            else DeleteFileA(strChild.c_str());
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryA(strPath.c_str());
}

ScratchFolder::ScratchFolder(const std::string& strPath) : m_strPath(strPath) {
    RemoveTree(m_strPath);
    CreateDirectoryA(m_strPath.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(m_strPath); }

void ScratchFolder::Folder(const std::string& strRel) const {
    std::string strPath = m_strPath;
    size_t nStart = 0;
    while (nStart < strRel.size()) {
        size_t nEnd = strRel.find('\\', nStart);
        if (nEnd == std::string::npos) nEnd = strRel.size();
        strPath += "\\" + strRel.substr(nStart, nEnd - nStart);
        CreateDirectoryA(strPath.c_str(), nullptr);
        nStart = nEnd + 1;
    }
}

void ScratchFolder::File(const std::string& strRel, const std::string& strBytes) const {
    size_t nSlash = strRel.rfind('\\');
    if (nSlash != std::string::npos) Folder(strRel.substr(0, nSlash));
    WriteBytes(m_strPath + "\\" + strRel, strBytes);
}

FileEntry Entry(const std::string& strDir, const std::string& strName, uint32_t nCrc) {
    FileEntry e;
    e.m_strDir = strDir;
    e.m_strName = strName;
    e.m_nCrc = nCrc;
    return e;
}

std::string Describe(const std::vector<FileEntry>& entries) {
    std::string s;
    for (const FileEntry& e : entries)
        s += e.m_strDir + "|" + e.m_strName + "|" + std::to_string(e.m_nCrc) + "|" + std::to_string(e.m_nKind) + "\n";
    return s;
}

}  // namespace listtest
