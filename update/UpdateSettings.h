// Everything one update run needs, gathered before it starts: the product,
// its servers in the order they are tried, the limits, the release key, and
// where the run keeps its own files. The window loads it from update.ini;
// tests and tools build it directly. A run never reads settings of its own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "update/UpdateConfig.h"
#include "update/UpdateKey.h"
#include "update/UpdatePaths.h"

// One update server of a run.
struct UpdateServer {
    std::string strHost;
    unsigned short nPort = 0;
    int nConnections = DEFAULT_CONNECTIONS;  // parallel transfers to it
};

struct UpdateSettings {
    UpdateSettings();  // the built-in key, no servers

    std::string strProduct;
    std::string strStartParam;          // as the program was given it, for the log
    std::vector<UpdateServerRow> rows;  // update.ini as read, for the log
    // The one to try first at the front; empty: the run fails as one whose
    // server can't be reached, so the player sees why.
    std::vector<UpdateServer> servers;
    DWORD nStallLimitMs = 30000;  // how long a request may receive nothing
    unsigned nLimitKiB = 0;       // the bandwidth cap in KiB per second, 0: none
    // Signed releases: the key (X||Y) releases must verify with; without one
    // the run updates unsigned.
    bool bKeyed = false;
    unsigned char key[UPDATE_KEY_BYTES] = {};

    void SetKey(const unsigned char* pKey);
    const unsigned char* Key() const { return bKeyed ? key : nullptr; }
    std::string ServerName(size_t i) const;  // "host:port", for the log

    // The run's own files, relative to the program folder (the run's current folder).
    std::string StateFolder() const { return std::string(kUpdateIniName) + "/" + strProduct; }
    std::string ListPath() const { return StateFolder() + "/files.ini"; }
    std::string SignaturePath() const { return StateFolder() + "/filelist.sig"; }
};

// Reads update.ini of the current folder into the rows and the cap. A file
// that can't be opened leaves no rows.
void ReadUpdateIni(UpdateSettings& settings);
// Draws a row of nLineKey and puts its servers in run order. False, with no
// servers, when the key has no usable row.
bool ChooseServers(UpdateSettings& settings, int nLineKey);
// The window's settings: update.ini's servers of line 1.
UpdateSettings LoadUpdateSettings(const std::string& strProduct, const std::string& strStartParam);
