// The local scan with what a run knows beforehand: the rows of the last run
// (quick check), and in signed mode the signed size and SHA-256 of each file.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "update/FileList.h"
#include "update/LocalState.h"
#include "update/Manifest.h"

struct ScanContext {
    const std::atomic<bool>* pCancel = nullptr;
    // Quick check against its rows when trusted; every file checked gets a
    // row in it for the next run. nullptr: read every file, keep nothing.
    LocalState* pState = nullptr;
    // Signed mode: the signed size and digest of a listed file, nullptr when
    // it signs none. A file is then judged by those instead of the CRC.
    std::function<const ManifestFile*(const FileEntry&)> signedFile;
    int nThreads = 0;  // 0: one per core, at most 4
};

// The program's folder with its final backslash.
std::string FindProgramFolder();
void ScanFilesUnder(const std::string& strBaseDir, const std::vector<FileEntry>& remote,
                    std::vector<FileEntry>& local, const ScanContext& context);
void ScanLocalFiles(const std::vector<FileEntry>& remote, std::vector<FileEntry>& local,
                    const ScanContext& context);
