// The few file-system calls the publisher needs, for Windows and POSIX.
// Names are bytes as the system gives them (GBK on a Chinese Windows).
#pragma once

#include <string>
#include <vector>

enum class DiskKind { File, Dir, Link, Other, Missing };

struct DiskItem {
    std::string m_strName;
    DiskKind m_nKind = DiskKind::Other;
};

// The path separator of the host system.
char DiskSeparator();
std::string DiskJoin(const std::string& strFolder, const std::string& strName);
// What a path is, without following a final symbolic link.
DiskKind DiskKindOf(const std::string& strPath);
// The items of a folder ("." and ".." left out), sorted by bytes.
bool DiskListFolder(const std::string& strPath, std::vector<DiskItem>& items);
// Creates a folder; true also when it already exists as one.
bool DiskMakeFolder(const std::string& strPath);
// Copies a file's bytes; the target is replaced.
bool DiskCopyFile(const std::string& strFrom, const std::string& strTo);
// Moves a finished file over its target in one step.
bool DiskReplace(const std::string& strFrom, const std::string& strTo);
bool DiskRemove(const std::string& strPath);
