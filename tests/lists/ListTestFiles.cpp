// Scratch files and folders for the file-list tests.
#include "lists/ListTestFiles.h"

#include <windows.h>


namespace listtest {

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
