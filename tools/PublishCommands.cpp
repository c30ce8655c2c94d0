// publish and rollback: from a release folder to the live site and back.
#include "tools/PublishCommands.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "net/BlockIndex.h"
#include "net/PatchName.h"
#include "tools/ChangeReport.h"
#include "tools/DiskFiles.h"
#include "tools/ProgressLine.h"
#include "tools/Publisher.h"
#include "tools/SiteReleases.h"
#include "tools/SiteSigning.h"

namespace {

// A whole number in [nMin, nMax] or -1.
long ReadCount(const std::string& strValue, long nMin, long nMax) {
    char* pEnd = nullptr;
    long n = strtol(strValue.c_str(), &pEnd, 10);
    return (strValue.empty() || *pEnd || n < nMin || n > nMax) ? -1 : n;
}

bool ReadNames(const CommandLine& line, DiskNames& nNames) {
    std::string strNames = line.Value("--names", "native");
    if (strNames != "native" && strNames != "gbk") {
        fputs("publish: --names takes native or gbk\n", stderr);
        return false;
    }
    nNames = strNames == "gbk" ? DiskNames::Gbk : DiskNames::Native;
    return true;
}

// A size with an optional K, M or G (powers of 1024), or "off" (0); false for anything else.
bool ReadSize(const std::string& strValue, uint64_t nLeast, uint64_t& nSize) {
    if (strValue == "off") {
        nSize = 0;
        return true;
    }
    char* pEnd = nullptr;
    unsigned long long n = strtoull(strValue.c_str(), &pEnd, 10);
    int nShift = 0;
    if (pEnd && *pEnd && !pEnd[1]) {
        char c = static_cast<char>(*pEnd | 0x20);
        nShift = c == 'k' ? 10 : c == 'm' ? 20 : c == 'g' ? 30 : -1;
        if (nShift > 0) ++pEnd;
    }
    bool bOk = !strValue.empty() && strValue[0] >= '0' && strValue[0] <= '9' && pEnd && !*pEnd && nShift >= 0 &&
               n <= (UINT64_MAX >> nShift) && (n << nShift) >= nLeast;
    if (bOk) nSize = static_cast<uint64_t>(n) << nShift;
    return bOk;
}

// --patch-min and --patch-from.
bool ReadPatchOptions(const CommandLine& line, PatchOptions& patch) {
    patch.m_nMinBytes = net::PATCH_MIN_BYTES;
    if (line.Has("--patch-min") && !ReadSize(line.Value("--patch-min", ""), 1, patch.m_nMinBytes)) {
        fputs("publish: --patch-min takes a size (K, M, G: powers of 1024) or off\n", stderr);
        return false;
    }
    long nFrom = ReadCount(line.Value("--patch-from", "1"), 1, 1000);
    if (nFrom < 0) {
        fputs("publish: --patch-from takes a number from 1 to 1000\n", stderr);
        return false;
    }
    patch.m_nFrom = static_cast<unsigned>(nFrom);
    return true;
}

// --delta-min: a size with an optional K, M or G (powers of 1024), or "off".
// Blocks are at least 4 KiB, so an index of a smaller file would hold one block.
bool ReadDeltaMin(const CommandLine& line, uint64_t& nMin) {
    nMin = net::DELTA_MIN_BYTES;
    if (!line.Has("--delta-min") || ReadSize(line.Value("--delta-min", ""), net::BLOCK_SIZE_MIN, nMin)) return true;
    fputs("publish: --delta-min takes a size of 4K or more (K, M, G: powers of 1024) or off\n", stderr);
    return false;
}

// --key and --expires-days; the key is read and tried before anything is written.
int ReadSigning(const CommandLine& line, SigningOptions& signing) {
    signing.m_strKeyPath = line.Value("--key", "");
    if (line.Has("--expires-days") && !ParseExpiresDays(line.Value("--expires-days", ""), signing.m_nExpiresDays))
        return 2;
    std::string strError;
    if (SigningRequested(signing) && !LoadSigningKey(signing, strError)) {
        fprintf(stderr, "publish: %s\n", strError.c_str());
        return 1;
    }
    return 0;
}

// Names every refused path and every entry the client skips; true when publishing may go on.
bool ReportProblems(const ReleaseScan& scan, bool bSkipUnsafe) {
    for (const PublishProblem& p : scan.m_warnings)
        fprintf(stderr, "publish: warning: %s is listed, but %s\n", p.m_strRelPath.c_str(), p.m_strReason.c_str());
    for (const PublishProblem& p : scan.m_problems)
        fprintf(stderr, "publish: %s: %s %s\n", bSkipUnsafe ? "left out" : "refused", p.m_strRelPath.c_str(),
                p.m_strReason.c_str());
    if (scan.m_problems.empty() || bSkipUnsafe) return true;
    fprintf(stderr, "publish: %u path(s) refused, nothing published (--skip-unsafe leaves them out)\n",
            static_cast<unsigned>(scan.m_problems.size()));
    return false;
}

void PrintResult(const PublishResult& result, const std::string& strSite, const std::string& strProduct) {
    printf("publish: release %s of %s is live at %s/kroupdate/%s", result.m_strId.c_str(), strProduct.c_str(),
           strSite.c_str(), strProduct.c_str());
    if (!result.m_strPrevious.empty()) printf(" (replacing %s)", result.m_strPrevious.c_str());
    printf("\n");
    for (const std::string& id : result.m_removed) printf("publish: removed the old release %s\n", id.c_str());
}

// Writes the scanned release into the site and switches to it.
int WriteScanned(const CommandLine& line, const ReleaseScan& scan, const SigningOptions& signing, unsigned nKeep,
                 const PatchOptions& patch, ChangeReport report) {
    const std::string& strRelease = line.m_args[0];
    const std::string& strSite = line.m_args[1];
    const std::string& strProduct = line.m_args[2];
    ProgressLine progress(stdout);
    PublishOptions options;
    options.m_nKeep = nKeep;
    options.m_onProgress = [&](const PublishProgress& p) {
        progress.Show("publishing", p.m_nFilesDone, p.m_nFiles, p.m_nBytesDone, p.m_nBytes);
    };
    options.m_patch = patch;
    options.m_patch.m_bNameBySha256 = SigningRequested(signing);
    options.m_patch.m_onProgress = [&](uint64_t nDone, uint64_t nFiles, uint64_t nBytesDone, uint64_t nBytes) {
        progress.Show("patching", nDone, nFiles, nBytesDone, nBytes);
    };
    if (SigningRequested(signing)) {
        std::string strPreviousSig = DiskJoin(SiteLayoutOf(strSite, strProduct).m_strLive, "filelist.sig");
        options.m_beforeSwitch = [&, strPreviousSig](const std::string& strReleaseDir, std::string& strWhy) {
            return SignReleaseFolder(strReleaseDir, strPreviousSig, strProduct, scan.m_entries, signing,
                                     static_cast<uint64_t>(time(nullptr)), strWhy);
        };
    }
    PublishResult result;
    std::string strError;
    bool bOk = PublishSite(strRelease, strSite, strProduct, scan.m_entries, options, result, strError);
    progress.Finish();
    if (!bOk) {
        fprintf(stderr, "publish: %s\n", strError.c_str());
        return 1;
    }
    report.m_nPatched = result.m_patches.m_nLivePatched;
    report.m_nPatchedFileBytes = result.m_patches.m_nLiveFileBytes;
    report.m_nPatchBytes = result.m_patches.m_nLivePatchBytes;
    printf("publish: %s\n", FormatChangeReport(report).c_str());
    if (result.m_patches.m_nWritten || result.m_patches.m_nTooLarge)
        printf("publish: %u patch(es) written, %llu bytes; %u not written (not smaller than %u%% of the file)\n",
               result.m_patches.m_nWritten, static_cast<unsigned long long>(result.m_patches.m_nBytes),
               result.m_patches.m_nTooLarge, net::PATCH_MAX_PERCENT);
    PrintResult(result, strSite, strProduct);
    return 0;
}

}  // namespace

int RunPublish(const CommandLine& line) {
    const std::string& strRelease = line.m_args[0];
    const std::string& strSite = line.m_args[1];
    const std::string& strProduct = line.m_args[2];
    if (const char* pszWhy = ProductProblem(strProduct)) {
        fprintf(stderr, "publish: product %s: %s\n", strProduct.c_str(), pszWhy);
        return 2;
    }
    long nKeep = ReadCount(line.Value("--keep", "2"), 1, 1000);
    ScanOptions scanOptions;
    scanOptions.m_strProduct = strProduct;
    if (nKeep < 0) fputs("publish: --keep takes a number from 1 to 1000\n", stderr);
    uint64_t nDeltaMin = 0;
    PatchOptions patch;
    if (nKeep < 0 || !ReadNames(line, scanOptions.m_nNames) || !ReadDeltaMin(line, nDeltaMin) ||
        !ReadPatchOptions(line, patch))
        return 2;
    SigningOptions signing;
    if (int nStatus = ReadSigning(line, signing)) return nStatus;

    SiteLayout site = SiteLayoutOf(strSite, strProduct);
    std::vector<FileEntry> previous;
    bool bHadPrevious = ReadLiveList(site.m_strLive, previous);
    // One read of each file gives all it needs: the list's checksum, and
    // unless this is a dry run its block index and the SHA-256 that signing
    // and taking over the live release's copy compare.
    if (!line.Has("--dry-run")) {
        scanOptions.m_digest.m_bSha256 = SigningRequested(signing) || bHadPrevious;
        scanOptions.m_digest.m_nIndexMin = nDeltaMin;
    }
    ReleaseScan scan;
    std::string strError;
    if (!ScanRelease(strRelease, scanOptions, scan, strError)) {
        fprintf(stderr, "publish: %s\n", strError.c_str());
        return 1;
    }
    if (!ReportProblems(scan, line.Has("--skip-unsafe"))) return 1;
    if (scan.m_entries.empty()) {
        fputs("publish: every path was left out, nothing to publish\n", stderr);
        return 1;
    }
    // The report counts the patches players take, so a publish prints it once they are made.
    ChangeReport report = CompareReleases(previous, bHadPrevious, scan.m_entries);
    if (line.Has("--dry-run")) {
        printf("publish: %s\n", FormatChangeReport(report).c_str());
        puts("publish: dry run, nothing written");
        return 0;
    }

    return WriteScanned(line, scan, signing, static_cast<unsigned>(nKeep), patch, report);
}

int RunKeygen(const CommandLine& line) { return KeygenInto(line.m_args[0]); }

int RunRollback(const CommandLine& line) {
    std::string strFrom, strTo, strError;
    if (!RollbackSite(line.m_args[0], line.m_args[1], strFrom, strTo, strError)) {
        fprintf(stderr, "publish rollback: %s\n", strError.c_str());
        return 1;
    }
    printf("publish rollback: release %s of %s is live again (was %s)\n", strTo.c_str(), line.m_args[1].c_str(),
           strFrom.c_str());
    return 0;
}
