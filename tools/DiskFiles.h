// The few file-system calls the publisher needs, for Windows and POSIX.
// Names are bytes as the system gives them (GBK on a Chinese Windows).
#pragma once

#include <functional>
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
// What a path is once every link on it is followed (Missing for a dangling one).
DiskKind DiskKindBehind(const std::string& strPath);
// The items of a folder ("." and ".." left out), sorted by bytes.
bool DiskListFolder(const std::string& strPath, std::vector<DiskItem>& items);
// Creates a folder; true also when it already exists as one.
bool DiskMakeFolder(const std::string& strPath);
// Copies a file's bytes, each piece also handed to onBytes, and flushes the
// target to the disk; the target is replaced.
bool DiskCopyFile(const std::string& strFrom, const std::string& strTo,
                  const std::function<void(const char* p, size_t n)>& onBytes = nullptr);
// Writes a file's bytes through to the disk (fsync, FlushFileBuffers).
bool DiskFlushFile(const std::string& strPath);
// The same for a folder's entries: its new names survive a power cut.
bool DiskFlushFolder(const std::string& strPath);
// Moves a finished file over its target in one step.
bool DiskReplace(const std::string& strFrom, const std::string& strTo);
bool DiskRemove(const std::string& strPath);
// Size of a file in bytes, 0 when it can't be read.
unsigned long long DiskFileSize(const std::string& strPath);
// A second name for an existing file (a hard link): no bytes are copied.
bool DiskHardLink(const std::string& strExisting, const std::string& strNew);
// Moves a folder (or a link) to a new name that must not exist yet.
bool DiskMove(const std::string& strFrom, const std::string& strTo);
// Removes a folder and everything in it; links inside are removed, not followed.
bool DiskRemoveTree(const std::string& strPath);
#ifndef _WIN32
// A symbolic link whose text is strTarget; readlink's text of an existing one.
bool DiskSymlink(const std::string& strTarget, const std::string& strLink);
bool DiskReadLink(const std::string& strLink, std::string& strTarget);
// Swaps two names in one step (a folder and a link); false where unsupported.
bool DiskExchange(const std::string& strA, const std::string& strB);
#endif
