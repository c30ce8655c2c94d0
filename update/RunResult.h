// What the last run leaves for the hand-off, which reads it after the window
// has closed and the run's thread has ended.
#pragma once

#include <atomic>
#include <vector>

#include "update/FileList.h"

extern std::atomic<unsigned char> g_bRunResult;   // the run ended with its list walked
extern std::atomic<unsigned char> g_bSelfUpdated;  // it installed a new selfrenew.exe
// The work list of the last run, as its comparison built it.
extern std::vector<FileEntry> g_updateList;
