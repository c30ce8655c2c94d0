// Reading and writing the product's state file, and the metadata of a file
// the way the quick check compares it.
#include "update/LocalState.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "framework/Handles.h"
#include "framework/WholeFile.h"
#include "update/UpdatePaths.h"

namespace {

uint64_t FileTimeOf(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The whole file, or false when it is missing, unreadable or beyond the cap.
bool ReadCapped(const std::string& strPath, std::string& strBytes) {
    fw::UniqueHandle file(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > LOCAL_STATE_MAX_BYTES)
        return false;
    strBytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD nRead = 0;
    return strBytes.empty() ||
           (ReadFile(file.Get(), &strBytes[0], static_cast<DWORD>(strBytes.size()), &nRead, nullptr) &&
            nRead == strBytes.size());
}

}  // namespace

bool ReadFileRow(void* hFile, LocalFileRow& row, bool& bDirectory) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(static_cast<HANDLE>(hFile), &info)) return false;
    bDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    row.m_nSize = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    row.m_nWriteTime = FileTimeOf(info.ftLastWriteTime);
    row.m_nCreateTime = FileTimeOf(info.ftCreationTime);
    row.m_nVolume = info.dwVolumeSerialNumber;
    row.m_nFileIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

std::string LocalState::PathFor(const std::string& strProgramDir, const std::string& strProduct) {
    return ProductStateFolder(strProgramDir, strProduct) + "\\localstate.dat";
}

void LocalState::Load(const std::string& strProgramDir, const std::string& strProduct) {
    m_strProgramDir = strProgramDir;
    m_strProduct = strProduct;
    m_strPath = PathFor(strProgramDir, strProduct);
    m_rows.clear();
    m_next.clear();
    m_bLoadedFailed = false;
    std::string strBytes;
    m_bLoaded = ReadCapped(m_strPath, strBytes) &&
                ParseLocalState(strBytes.data(), strBytes.size(), m_rows, m_bLoadedFailed);
    if (!m_bLoaded) m_rows.clear();
    m_bTrusted = m_bLoaded && !m_bLoadedFailed;
}

const LocalFileRow* LocalState::Find(const std::string& strKey) const {
    if (!m_bTrusted) return nullptr;
    auto it = m_rows.find(strKey);
    return it == m_rows.end() ? nullptr : &it->second;
}

bool LocalState::FindKept(const std::string& strKey, LocalFileRow& row) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_next.find(strKey);
    if (it == m_next.end()) return false;
    row = it->second;
    return true;
}

void LocalState::Keep(const std::string& strKey, const LocalFileRow& row) {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
        m_next[strKey] = row;
    } catch (const std::bad_alloc&) {
        // A row less only means a read more next time.
    }
}

void LocalState::KeepInstalled(const std::string& strPath, const std::string& strKey, uint32_t nCrc,
                               const unsigned char* pSha256) {
    LocalFileRow row;
    bool bDirectory = false;
    {
        fw::UniqueHandle file(CreateFileA(strPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file.IsValid() || !ReadFileRow(file.Get(), row, bDirectory) || bDirectory) return;
    }
    row.m_bHasCrc = true;
    row.m_nCrc = nCrc;
    if (pSha256) {
        row.m_bHasSha = true;
        std::memcpy(row.m_sha256, pSha256, sizeof row.m_sha256);
    }
    Keep(strKey, row);
}

bool LocalState::Save(bool bRunFailed) {
    if (m_strPath.empty()) return false;
    std::string strBytes;
    try {
        std::lock_guard<std::mutex> lock(m_lock);
        // A run with nothing new leaves the file alone: no write at every start.
        if (m_bLoaded && m_bLoadedFailed == bRunFailed && m_next == m_rows) return true;
        strBytes = FormatLocalState(m_next, bRunFailed);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // The folders the run keeps its list in; made here too for a state saved alone.
    CreateDirectoryA(UpdateIniFolder(m_strProgramDir).c_str(), nullptr);
    CreateDirectoryA(ProductStateFolder(m_strProgramDir, m_strProduct).c_str(), nullptr);
    // A hard stop leaves this file or the old one in place, never a torn one;
    // a leftover temporary file is never read.
    return fw::ReplaceFileWhole(m_strPath, strBytes, "LocalState");
}
