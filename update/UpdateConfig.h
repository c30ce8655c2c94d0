// The rows of "update.ini" and the choice of one update server among them.
// No Windows header: this parser also builds natively for fuzzing.
#pragma once

#include <cstdio>
#include <vector>

struct UpdateServerRow {
    int nId;
    int nLineKey;
    char szName[260];
    char szHost[64];
    int nPort;
    int nConnections;  // optional sixth field: parallel transfers; 0 when absent
};

// Parallel transfers to a server when its row doesn't say (or says nonsense).
const int DEFAULT_CONNECTIONS = 8;
const int MAX_CONNECTIONS = 16;

// The row's number of parallel transfers: 1 to 16, else the default.
int ConnectionsOf(const UpdateServerRow& row);

// Reads every row from an open text stream, as "update.ini" is read; the
// bandwidth cap of a line exactly "limit=N" (KiB per second) goes to
// *pnLimitKiB when given, 0 without one. Five-field readers drop that line.
void ReadUpdateServers(std::FILE* pFile, std::vector<UpdateServerRow>& rows, unsigned* pnLimitKiB = nullptr);
// N of a line exactly "limit=N" (decimal digits only, at most 4194303, so
// bytes per second fit 32 bits); -1 for any other line.
long ParseLimitLine(const char* pszLine);

// Index of the row chosen for line key nKey with the draw r, or -1 when none is.
int ChooseServerRow(const std::vector<UpdateServerRow>& rows, int nKey, int r);

// Every row of line key nKey, the chosen one first, then the others in file order.
std::vector<int> ServerOrder(const std::vector<UpdateServerRow>& rows, int nKey, int nChosen);
