// Times the block matcher's scan of an old file against a new file's index:
// an unrelated old file (nothing matches, every byte is slid over) and a
// similar one (a few changed places). Builds natively and for Windows alike,
// so the same scan runs on the host (to profile) and under Wine.
//   scan_bench [MiB] [unrelated|similar|both] [file]
//   scan_bench --index <block index> <old file>
// With a file, the old bytes come from it through stdio (as from disk);
// otherwise from memory, which times the matcher alone. The second form
// scans a real old file against a published index. Natively:
//   g++ -O2 -std=c++17 -I. bench/scan_bench.cpp net/BlockMatcher.cpp net/BlockIndex.cpp
// (then perf record, or valgrind --tool=callgrind on a small size).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include "net/BlockIndex.h"
#include "net/BlockMatcher.h"

namespace {

std::vector<unsigned char> SeededBytes(size_t n, uint32_t nSeed) {
    std::vector<unsigned char> v(n);
    std::mt19937_64 rng(nSeed);
    for (size_t i = 0; i + 8 <= n; i += 8) {
        uint64_t x = rng();
        std::memcpy(&v[i], &x, 8);
    }
    return v;
}

bool SeekTo(FILE* f, uint64_t n) {
#ifdef _WIN32
    return _fseeki64(f, static_cast<long long>(n), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(n), SEEK_SET) == 0;
#endif
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The process's CPU time (user and kernel): on a shared machine the wall
// time says as much about the neighbours as about the scan.
double CpuSeconds() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto toSeconds = [](const FILETIME& t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return toSeconds(kernel) + toSeconds(user);
#else
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

void Report(const char* pszCase, const net::BlockIndex& index, const net::BlockMatcher& m, uint64_t nBytes,
            double s, double cpu) {
    printf("%-9s %6.0f MiB  block %6u  found %6u/%u  %.2f s  %5.0f MB/s  cpu %.2f s  %5.0f MB/s\n", pszCase,
           nBytes / 1048576.0, index.nBlockSize, static_cast<unsigned>(m.FoundBlocks()),
           static_cast<unsigned>(index.BlockCount()), s, nBytes / s / 1e6, cpu, nBytes / cpu / 1e6);
}

bool ReadWhole(const char* pszPath, std::string& strOut) {
    FILE* f = fopen(pszPath, "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) strOut.append(buf, n);
    fclose(f);
    return true;
}

uint64_t FileSize(FILE* f) {
#ifdef _WIN32
    _fseeki64(f, 0, SEEK_END);
    return static_cast<uint64_t>(_ftelli64(f));
#else
    fseeko(f, 0, SEEK_END);
    return static_cast<uint64_t>(ftello(f));
#endif
}

int ScanPublished(const char* pszIndex, const char* pszOld) {
    std::string strText, strWhy;
    net::BlockIndex index;
    if (!ReadWhole(pszIndex, strText) || !net::ParseBlockIndex(strText.data(), strText.size(), index, strWhy)) {
        fprintf(stderr, "scan_bench: no index in %s %s\n", pszIndex, strWhy.c_str());
        return 1;
    }
    FILE* f = fopen(pszOld, "rb");
    if (!f) return 1;
    const uint64_t nSize = FileSize(f);
    auto fromFile = [&](uint64_t nAt, void* p, size_t n) { return SeekTo(f, nAt) && fread(p, 1, n, f) == n; };
    net::BlockMatcher matcher(index);
    auto t0 = std::chrono::steady_clock::now();
    double cpu0 = CpuSeconds();
    bool bOk = matcher.Scan(nSize, fromFile);
    double s = Seconds(t0), cpu = CpuSeconds() - cpu0;
    fclose(f);
    if (!bOk) return 1;
    Report("file", index, matcher, nSize, s, cpu);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--index") == 0) return ScanPublished(argv[2], argv[3]);
    const size_t nMiB = argc > 1 ? static_cast<size_t>(atoi(argv[1])) : 256;
    const std::string strMode = argc > 2 ? argv[2] : "both";
    const char* pszFile = argc > 3 ? argv[3] : nullptr;
    const size_t nSize = nMiB << 20;

    std::vector<unsigned char> newFile = SeededBytes(nSize, 1);
    net::BlockIndexBuilder builder(nSize);
    builder.Update(newFile.data(), newFile.size());
    unsigned char sha[32] = {};
    std::string strIndex = builder.Finish(sha);
    net::BlockIndex index;
    std::string strWhy;
    if (!net::ParseBlockIndex(strIndex.data(), strIndex.size(), index, strWhy)) return 1;

    for (const char* pszCase : {"unrelated", "similar"}) {
        if (strMode != "both" && strMode != pszCase) continue;
        std::vector<unsigned char> old;
        if (std::strcmp(pszCase, "unrelated") == 0) {
            old = SeededBytes(nSize, 2);
        } else {
            old = newFile;
            for (int i = 0; i < 10; ++i) old[nSize / 11 * (i + 1)] ^= 0xFF;
            old.insert(old.begin() + nSize / 3, 1000, 0x5A);
        }
        FILE* f = nullptr;
        if (pszFile) {
            f = fopen(pszFile, "w+b");
            if (!f || fwrite(old.data(), 1, old.size(), f) != old.size()) return 1;
            fflush(f);
        }
        auto fromMemory = [&](uint64_t nAt, void* p, size_t n) {
            if (nAt + n > old.size()) return false;
            std::memcpy(p, old.data() + nAt, n);
            return true;
        };
        auto fromFile = [&](uint64_t nAt, void* p, size_t n) {
            return SeekTo(f, nAt) && fread(p, 1, n, f) == n;
        };
        net::BlockMatcher matcher(index);
        auto t0 = std::chrono::steady_clock::now();
        double cpu0 = CpuSeconds();
        bool bOk = f ? matcher.Scan(old.size(), fromFile) : matcher.Scan(old.size(), fromMemory);
        double s = Seconds(t0), cpu = CpuSeconds() - cpu0;
        if (f) fclose(f);
        if (!bOk) return 1;
        Report(pszCase, index, matcher, old.size(), s, cpu);
    }
    if (pszFile) remove(pszFile);
    return 0;
}
