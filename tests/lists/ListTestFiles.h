// Real files for the file-list tests: scratch folders that clean up after
// themselves, and small writers and readers.
#pragma once

#include <string>
#include <vector>

#include "support/Processes.h"
#include "update/FileList.h"

namespace listtest {

// Writing files, the test program's folder and removing trees are shared
// with the other tests.
using testing_support::RemoveTree;
inline bool WriteBytes(const std::string& strPath, const std::string& strBytes) {
    return testing_support::WriteWholeFile(strPath, strBytes);
}
inline std::string ExeFolder() { return testing_support::TestBinDir(); }

// A folder that exists for the life of the object.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& strPath);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return m_strPath; }
    // Creates a file (and the folders before it) at a path below this folder.
    void File(const std::string& strRel, const std::string& strBytes) const;
    void Folder(const std::string& strRel) const;

private:
    std::string m_strPath;
};

FileEntry Entry(const std::string& strDir, const std::string& strName, uint32_t nCrc);
// "dir|name|crc|kind" per entry, for readable failure messages.
std::string Describe(const std::vector<FileEntry>& entries);

}  // namespace listtest
