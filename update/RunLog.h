// The support log's lines of an update run: its start, its list, each
// entry's outcome and its end. Callers hold none of the session's locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/UpdateConfig.h"

struct RunStartNote {
    std::string strStartParam;
    std::string strProduct;
    const std::vector<UpdateServerRow>* pRows = nullptr;  // update.ini as read
    std::vector<std::string> servers;  // "host:port", in the order they are tried
    std::string strRoute;              // "direct" or the proxy
    bool bSigned = false;
    unsigned nLimitKiB = 0;  // the bandwidth cap, 0 for none
};
void LogRunStart(const RunStartNote& note);

// The list taken: from where, its size, the signed serial (0: unsigned),
// its entries and how many of them the run has to fetch or create.
void LogListTaken(const std::string& strServer, uint64_t nBytes, uint64_t nSerial, size_t nEntries, size_t nWork);

// One entry's outcome.
struct EntryNote {
    std::string strPath;      // the local path
    const char* pszHow = "";  // kept, whole, resumed, delta, failed
    uint64_t nBytes = 0;      // bytes that came over the line for it
    std::string strServer;    // "host:port" of its last try
    int nTries = 0;
    std::string strReason;    // a failure's last diagnostic
    std::string strMessage;   // a failure's status line
};
void LogEntry(const EntryNote& note);

// The run's end: its result, duration, bytes, and the final status line.
void LogRunEnd(bool bResult, bool bCancelled, uint32_t nMs, uint64_t nBytes, const std::string& strMessage);

// "G" for a message that ends in "(G)", "" for one without a letter.
std::string MessageLetter(const std::string& strMessage);
