// File-system calls of the publisher: Win32 on Windows, POSIX elsewhere.
#include "tools/DiskFiles.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

#ifdef _WIN32
DiskKind KindOfAttributes(DWORD nAttr) {
    // Junctions and symbolic links are reparse points: never followed.
    if (nAttr & FILE_ATTRIBUTE_REPARSE_POINT) return DiskKind::Link;
    if (nAttr & FILE_ATTRIBUTE_DIRECTORY) return DiskKind::Dir;
    return DiskKind::File;
}

struct FindCloser {
    void operator()(HANDLE h) const { if (h != INVALID_HANDLE_VALUE) FindClose(h); }
};
#else
DiskKind KindOfMode(mode_t nMode) {
    if (S_ISLNK(nMode)) return DiskKind::Link;
    if (S_ISDIR(nMode)) return DiskKind::Dir;
    if (S_ISREG(nMode)) return DiskKind::File;
    return DiskKind::Other;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
#endif

}  // namespace

#ifdef _WIN32
char DiskSeparator() { return '\\'; }

DiskKind DiskKindOf(const std::string& strPath) {
    DWORD nAttr = GetFileAttributesA(strPath.c_str());
    return nAttr == INVALID_FILE_ATTRIBUTES ? DiskKind::Missing : KindOfAttributes(nAttr);
}

DiskKind DiskKindBehind(const std::string& strPath) {
    // Opening follows links; the handle's attributes are the target's.
    HANDLE h = CreateFileA(strPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return DiskKind::Missing;
    BY_HANDLE_FILE_INFORMATION info = {};
    bool bKnown = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return bKnown ? KindOfAttributes(info.dwFileAttributes & ~FILE_ATTRIBUTE_REPARSE_POINT) : DiskKind::Missing;
}

bool DiskListFolder(const std::string& strPath, std::vector<DiskItem>& items) {
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(DiskJoin(strPath, "*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    std::unique_ptr<void, FindCloser> owner(hFind);
    do {
        std::string strName = data.cFileName;
        if (strName == "." || strName == "..") continue;
        items.push_back({strName, KindOfAttributes(data.dwFileAttributes)});
    } while (FindNextFileA(hFind, &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) return false;
    std::sort(items.begin(), items.end(), [](const DiskItem& a, const DiskItem& b) { return a.m_strName < b.m_strName; });
    return true;
}

bool DiskMakeFolder(const std::string& strPath) {
    return CreateDirectoryA(strPath.c_str(), nullptr) || DiskKindOf(strPath) == DiskKind::Dir;
}

bool DiskReplace(const std::string& strFrom, const std::string& strTo) {
    return MoveFileExA(strFrom.c_str(), strTo.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

unsigned long long DiskFileSize(const std::string& strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool DiskHardLink(const std::string& strExisting, const std::string& strNew) {
    return CreateHardLinkA(strNew.c_str(), strExisting.c_str(), nullptr) != 0;
}

bool DiskMove(const std::string& strFrom, const std::string& strTo) {
    return MoveFileExA(strFrom.c_str(), strTo.c_str(), 0) != 0;
}

namespace {
bool FlushOpenFile(FILE* f) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
}

bool FlushPath(const std::string& strPath, DWORD nFlags) {
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, nFlags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool bOk = FlushFileBuffers(h) != 0;
    CloseHandle(h);
    return bOk;
}
}  // namespace

bool DiskFlushFile(const std::string& strPath) { return FlushPath(strPath, FILE_ATTRIBUTE_NORMAL); }

bool DiskFlushFolder(const std::string& strPath) {
    // NTFS journals a folder's entries itself; where a folder can't be opened
    // for flushing (older systems, other file systems) nothing more is possible.
    if (FlushPath(strPath, FILE_FLAG_BACKUP_SEMANTICS)) return true;
    return DiskKindOf(strPath) == DiskKind::Dir;
}

namespace {
bool RemoveEmptyFolder(const std::string& strPath) { return RemoveDirectoryA(strPath.c_str()) != 0; }
bool RemoveFileOrLink(const std::string& strPath, DiskKind nKind) {
    // A junction or folder link goes like an empty folder, without touching its target.
    if (nKind == DiskKind::Link && (GetFileAttributesA(strPath.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
        return RemoveDirectoryA(strPath.c_str()) != 0;
    return DeleteFileA(strPath.c_str()) != 0;
}
}  // namespace
#else
char DiskSeparator() { return '/'; }

DiskKind DiskKindOf(const std::string& strPath) {
    struct stat st;
    return lstat(strPath.c_str(), &st) != 0 ? DiskKind::Missing : KindOfMode(st.st_mode);
}

DiskKind DiskKindBehind(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) != 0 ? DiskKind::Missing : KindOfMode(st.st_mode);
}

bool DiskListFolder(const std::string& strPath, std::vector<DiskItem>& items) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(strPath.c_str()));
    if (!dir) return false;
    while (const dirent* ent = readdir(dir.get())) {
        std::string strName = ent->d_name;
        if (strName == "." || strName == "..") continue;
        items.push_back({strName, DiskKindOf(DiskJoin(strPath, strName))});
    }
    std::sort(items.begin(), items.end(), [](const DiskItem& a, const DiskItem& b) { return a.m_strName < b.m_strName; });
    return true;
}

bool DiskMakeFolder(const std::string& strPath) {
    return mkdir(strPath.c_str(), 0755) == 0 || DiskKindOf(strPath) == DiskKind::Dir;
}

bool DiskReplace(const std::string& strFrom, const std::string& strTo) {
    return rename(strFrom.c_str(), strTo.c_str()) == 0;
}

unsigned long long DiskFileSize(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
}

bool DiskHardLink(const std::string& strExisting, const std::string& strNew) {
    return link(strExisting.c_str(), strNew.c_str()) == 0;
}

bool DiskMove(const std::string& strFrom, const std::string& strTo) {
    // rename(2) would replace an empty folder or a file; a move must not.
    if (DiskKindOf(strTo) != DiskKind::Missing) return false;
    return rename(strFrom.c_str(), strTo.c_str()) == 0;
}

bool DiskSymlink(const std::string& strTarget, const std::string& strLink) {
    return symlink(strTarget.c_str(), strLink.c_str()) == 0;
}

bool DiskReadLink(const std::string& strLink, std::string& strTarget) {
    char szBuf[4096];
    ssize_t n = readlink(strLink.c_str(), szBuf, sizeof szBuf);
    if (n < 0 || static_cast<size_t>(n) >= sizeof szBuf) return false;
    strTarget.assign(szBuf, static_cast<size_t>(n));
    return true;
}

bool DiskExchange(const std::string& strA, const std::string& strB) {
#ifdef RENAME_EXCHANGE
    return renameat2(AT_FDCWD, strA.c_str(), AT_FDCWD, strB.c_str(), RENAME_EXCHANGE) == 0;
#else
    (void)strA;
    (void)strB;
    return false;
#endif
}

namespace {
bool FlushOpenFile(FILE* f) { return fsync(fileno(f)) == 0; }

bool FlushPath(const std::string& strPath, int nFlags) {
    int fd = open(strPath.c_str(), nFlags);
    if (fd < 0) return false;
    // Some file systems can't sync a folder (EINVAL): nothing more to do there.
    bool bOk = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    return bOk;
}
}  // namespace

bool DiskFlushFile(const std::string& strPath) { return FlushPath(strPath, O_RDONLY); }
bool DiskFlushFolder(const std::string& strPath) { return FlushPath(strPath, O_RDONLY | O_DIRECTORY); }

namespace {
bool RemoveEmptyFolder(const std::string& strPath) { return rmdir(strPath.c_str()) == 0; }
bool RemoveFileOrLink(const std::string& strPath, DiskKind) { return unlink(strPath.c_str()) == 0; }
}  // namespace
#endif

bool DiskRemoveTree(const std::string& strPath) {
    DiskKind nKind = DiskKindOf(strPath);
    if (nKind == DiskKind::Missing) return true;
    if (nKind != DiskKind::Dir) return RemoveFileOrLink(strPath, nKind);
    std::vector<DiskItem> items;
    if (!DiskListFolder(strPath, items)) return false;
    bool bOk = true;
    for (const DiskItem& item : items) bOk = DiskRemoveTree(DiskJoin(strPath, item.m_strName)) && bOk;
    return RemoveEmptyFolder(strPath) && bOk;
}

std::string DiskJoin(const std::string& strFolder, const std::string& strName) {
    if (strFolder.empty()) return strName;
    char c = strFolder.back();
    if (c == DiskSeparator() || c == '/') return strFolder + strName;
    return strFolder + DiskSeparator() + strName;
}

bool DiskRemove(const std::string& strPath) { return std::remove(strPath.c_str()) == 0; }

bool DiskCopyFile(const std::string& strFrom, const std::string& strTo,
                  const std::function<void(const char* p, size_t n)>& onBytes) {
    FilePtr in(fopen(strFrom.c_str(), "rb"));
    if (!in) return false;
    FilePtr out(fopen(strTo.c_str(), "wb"));
    if (!out) return false;
    std::unique_ptr<char[]> buffer(new char[256 * 1024]);
    size_t n;
    while ((n = fread(buffer.get(), 1, 256 * 1024, in.get())) > 0) {
        if (fwrite(buffer.get(), 1, n, out.get()) != n) return false;
        if (onBytes) onBytes(buffer.get(), n);
    }
    if (ferror(in.get()) || fflush(out.get()) != 0 || !FlushOpenFile(out.get())) return false;
    return fclose(out.release()) == 0;
}
