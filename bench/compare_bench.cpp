// Times BuildUpdateList on a list of 20,000 entries with a local scan of all
// but a few, changed in places. Built natively: tools/native builds it.
#include <chrono>
#include <cstdio>
#include <string>

#include "update/FileList.h"

std::vector<FileEntry> g_updateList;

int main() {
    const int kEntries = 20000;
    std::vector<FileEntry> remote, local;
    for (int i = 0; i < kEntries; ++i) {
        FileEntry e;
        e.m_strDir = i % 100 == 0 ? "/" : "data\\part" + std::to_string(i % 37);
        e.m_strName = "file" + std::to_string(i) + (i % 500 == 0 ? "" : ".dat");
        e.m_nCrc = static_cast<uint32_t>(i) * 2654435761u;
        remote.push_back(e);
        if (i % 1000 == 7) continue;  // missing locally
        if (i % 97 == 0) e.m_nCrc ^= 1;  // changed locally
        local.push_back(e);
    }
    auto t0 = std::chrono::steady_clock::now();
    BuildUpdateList(remote, local);
    auto t1 = std::chrono::steady_clock::now();
    printf("BuildUpdateList: %d remote, %u local, %u to update, %.2f ms\n", kEntries,
           static_cast<unsigned>(local.size()), static_cast<unsigned>(g_updateList.size()),
           std::chrono::duration<double, std::milli>(t1 - t0).count());
    return 0;
}
