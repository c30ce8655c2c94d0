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
};

// Reads every row from an open text stream, as "update.ini" is read.
void ReadUpdateServers(std::FILE* pFile, std::vector<UpdateServerRow>& rows);

// Index of the row chosen for line key nKey with the draw r, or -1 when none is.
int ChooseServerRow(const std::vector<UpdateServerRow>& rows, int nKey, int r);
