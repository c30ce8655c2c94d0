// Fetching the served list and files in parallel and comparing checksums.
#include "tools/SiteCheck.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "net/BlockIndex.h"
#include "net/RequestShape.h"
#include "tools/GbkNames.h"
#include "tools/ListText.h"
#include "tools/Signing.h"
#include "update/Checksum.h"
#include "update/Manifest.h"
#include "update/FileList.h"
#include "update/PathRules.h"
#include "update/ServerPaths.h"

namespace {

std::string EntryKey(const std::string& strDir, const std::string& strName) {
    return FoldCaseAZ(strDir == "\\" ? "/" : strDir) + ":" + FoldCaseAZ(strName);
}

// A file as the client asks for it: a 400 for a GBK path is asked once more
// by its UTF-8 spelling (servers that take only UTF-8 names); onRestart
// forgets what the first answer's body fed.
bool GetAsClient(SiteFetcher& fetcher, const std::string& strAddress, const BodySink& onData,
                 const std::function<void()>& onRestart, int& nStatus, std::string& strError) {
    if (!fetcher.Get(strAddress, false, onData, nStatus, strError)) return false;
    const std::string strTwin = nStatus == 400 ? net::Utf8TwinAddress(strAddress, GbkToUtf8) : std::string();
    if (strTwin.empty()) return true;
    onRestart();
    return fetcher.Get(strTwin, false, onData, nStatus, strError);
}

// The list's entries read line by line with the client's own reader.
bool FetchList(SiteFetcher& fetcher, const std::string& strProduct, std::vector<FileEntry>& entries,
               std::string& strBody, std::string& strError) {
    std::string strPath = "/kroupdate/" + strProduct + "/filelist.list";
    int nStatus = 0;
    if (!fetcher.Get(ListAddress(strProduct), true, [&](const char* p, size_t n) { strBody.append(p, n); }, nStatus,
                     strError)) {
        strError = strPath + ": " + strError;
        return false;
    }
    if (nStatus != 200) {
        strError = strPath + ": HTTP status " + std::to_string(nStatus);
        return false;
    }
    ParseFileListText(strBody, entries);
    return true;
}

// filelist.sig as a signed client judges it against the list it was served
// with: a cache holding one of the two stops every signed client. True when
// there is a readable manifest of the served list to hold the files to.
bool CheckSignature(SiteFetcher& fetcher, const CheckOptions& options, const std::string& strList,
                    Manifest& manifest, CheckReport& report) {
    const std::string strPath = "/kroupdate/" + options.m_strProduct + "/filelist.sig";
    std::string strText, strError;
    int nStatus = 0;
    auto finding = [&](Finding nKind, const std::string& strDetail) {
        report.m_findings.push_back({nKind, strPath, strDetail});
        return false;
    };
    if (!fetcher.Get(SignatureAddress(options.m_strProduct), true, [&](const char* p, size_t n) {
            if (strText.size() <= MANIFEST_MAX_BYTES) strText.append(p, n);
        }, nStatus, strError))
        return finding(Finding::Failed, strError);
    if (nStatus == 404 && options.m_strPublicKey.empty()) return false;  // an unsigned product
    if (nStatus == 404) return finding(Finding::Missing, "HTTP status 404: signed clients refuse the release");
    if (nStatus != 200) return finding(Finding::Failed, "HTTP status " + std::to_string(nStatus));
    std::string strWhy;
    if (!ParseManifest(strText.data(), strText.size(), manifest, strWhy))
        return finding(Finding::Damaged, "unreadable: " + strWhy);
    const unsigned char* pKey = reinterpret_cast<const unsigned char*>(options.m_strPublicKey.data());
    if (!options.m_strPublicKey.empty() &&
        !VerifyMessageRaw(pKey, strText.data(), manifest.m_nSignedBytes, manifest.m_signature))
        finding(Finding::Wrong, "not signed by the given key");
    if (!EqualsNoCaseAZ(manifest.m_strProduct, options.m_strProduct))
        finding(Finding::Wrong, "signed for the product " + manifest.m_strProduct);
    unsigned char digest[32] = {};
    Sha256Stream sha;
    sha.Update(strList.data(), strList.size());
    // Files are held to a manifest only where it signs the list served with it.
    if (!sha.Finish(digest) || manifest.m_nListSize != strList.size() ||
        memcmp(digest, manifest.m_listSha256, sizeof digest) != 0)
        return finding(Finding::Stale, "signs another filelist.list than the one served (a cache holds an old one "
                                       "of the two?): signed clients refuse the release");
    return true;
}

struct FileResult {
    std::vector<CheckFinding> m_findings;
    unsigned long long m_nBytes = 0;
};

// What the site's block index of a file says against the file as served.
std::string IndexProblem(const std::string& strIndex, uint64_t nFileSize, const unsigned char sha256[32]) {
    net::BlockIndex index;
    std::string strWhy;
    if (!net::ParseBlockIndex(strIndex.data(), strIndex.size(), index, strWhy)) return "unreadable: " + strWhy;
    if (index.nFileSize != nFileSize)
        return "made for " + std::to_string(index.nFileSize) + " bytes, the file has " + std::to_string(nFileSize);
    if (memcmp(index.fileSha256, sha256, sizeof index.fileSha256) != 0) return "made for other bytes (SHA-256)";
    return std::string();
}

class ParallelChecker {
public:
    ParallelChecker(const SiteAddress& address, const CheckOptions& options, const std::vector<FileEntry>& files,
                    const Manifest* pManifest)
        : m_address(address), m_options(options), m_files(files), m_pManifest(pManifest), m_results(files.size()) {}

    void Run() {
        unsigned nThreads = m_options.m_nParallel < 1 ? 1 : m_options.m_nParallel;
        if (nThreads > m_files.size()) nThreads = m_files.size() ? static_cast<unsigned>(m_files.size()) : 1;
        std::vector<std::thread> workers;
        for (unsigned i = 0; i < nThreads; ++i) workers.emplace_back([this] { Work(); });
        for (std::thread& t : workers) t.join();
    }
    const std::vector<FileResult>& Results() const { return m_results; }

private:
    void Work() {
        // Nothing may leave a thread; a failure is a finding.
        try {
            std::string strError;
            std::unique_ptr<SiteFetcher> fetcher = OpenSiteFetcher(m_address, strError);
            for (size_t i; (i = m_next++) < m_files.size();) CheckOne(fetcher.get(), i, strError);
        } catch (...) {
        }
    }

    std::string SitePath(const char* pszFolder, const FileEntry& e) const {
        std::string strPath = "/kroupdate/" + m_options.m_strProduct + pszFolder +
                              (e.m_strDir == "/" || e.m_strDir == "\\" ? e.m_strName : e.m_strDir + "/" + e.m_strName);
        for (char& c : strPath)
            if (c == '\\') c = '/';
        return strPath;
    }

    void CheckOne(SiteFetcher* fetcher, size_t i, const std::string& strOpenError) {
        const FileEntry& e = m_files[i];
        FileResult& r = m_results[i];
        std::string strPath = SitePath("/release/", e);
        uint32_t nCrc = ChecksumStart();
        auto sha = std::make_unique<Sha256Stream>();
        int nStatus = 0;
        std::string strError = strOpenError;
        std::string strAddress = FileAddress(m_options.m_strProduct, e.m_strDir, e.m_strName, e.m_nCrc);
        auto onData = [&](const char* p, size_t n) {
            nCrc = ChecksumUpdate(nCrc, p, n);
            sha->Update(p, n);
            r.m_nBytes += n;
        };
        auto onRestart = [&] {
            nCrc = ChecksumStart();
            sha = std::make_unique<Sha256Stream>();
            r.m_nBytes = 0;
        };
        bool bAnswered = fetcher && GetAsClient(*fetcher, strAddress, onData, onRestart, nStatus, strError);
        unsigned char digest[32];
        if (!bAnswered) r.m_findings.push_back({Finding::Failed, strPath, strError});
        else if (nStatus == 404) r.m_findings.push_back({Finding::Missing, strPath, "HTTP status 404"});
        else if (nStatus != 200) r.m_findings.push_back({Finding::Failed, strPath, "HTTP status " + std::to_string(nStatus)});
        else if (nCrc != e.m_nCrc) r.m_findings.push_back({Finding::Wrong, strPath, "served bytes don't match the list's checksum"});
        else if (!sha->Finish(digest)) r.m_findings.push_back({Finding::Failed, strPath, "SHA-256 failed"});
        else if (!SignedAlike(e, r.m_nBytes, digest)) r.m_findings.push_back({Finding::Wrong, strPath, "served bytes aren't the ones filelist.sig signs"});
        else if (r.m_nBytes >= net::BLOCK_SIZE_MIN) CheckIndex(*fetcher, e, r, digest);
        Progress(r.m_nBytes);
    }

    // Without a manifest there is nothing signed to differ from.
    bool SignedAlike(const FileEntry& e, uint64_t nSize, const unsigned char sha256[32]) const {
        if (!m_pManifest) return true;
        const ManifestFile* pSigned = m_pManifest->Find(e.m_strDir, e.m_strName);
        return pSigned && pSigned->m_nSize == nSize && memcmp(pSigned->m_sha256, sha256, 32) == 0;
    }

    // An index is optional (small files have none); one that is there must fit the file.
    void CheckIndex(SiteFetcher& fetcher, const FileEntry& e, FileResult& r, const unsigned char sha256[32]) {
        std::string strPath = SitePath("/blocks/", e), strIndex, strError;
        int nStatus = 0;
        std::string strAddress = BlockIndexAddress(m_options.m_strProduct, e.m_strDir, e.m_strName, e.m_nCrc);
        auto onData = [&](const char* p, size_t n) {
            if (strIndex.size() <= net::BLOCK_INDEX_MAX_BYTES) strIndex.append(p, n);
        };
        bool bAnswered = GetAsClient(fetcher, strAddress, onData, [&] { strIndex.clear(); }, nStatus, strError);
        if (!bAnswered) r.m_findings.push_back({Finding::Failed, strPath, strError});
        else if (nStatus == 200) {
            std::string strWhy = IndexProblem(strIndex, r.m_nBytes, sha256);
            if (!strWhy.empty()) r.m_findings.push_back({Finding::Damaged, strPath, "block index " + strWhy});
        } else if (nStatus != 404) {
            r.m_findings.push_back({Finding::Failed, strPath, "HTTP status " + std::to_string(nStatus)});
        }
    }

    void Progress(unsigned long long nBytes) {
        std::lock_guard<std::mutex> hold(m_lock);
        ++m_progress.m_nFilesDone;
        m_progress.m_nFiles = m_files.size();
        m_progress.m_nBytesDone += nBytes;
        if (m_options.m_onProgress) m_options.m_onProgress(m_progress);
    }

    const SiteAddress& m_address;
    const CheckOptions& m_options;
    const std::vector<FileEntry>& m_files;
    const Manifest* m_pManifest;  // the served filelist.sig, when there is a readable one
    std::vector<FileResult> m_results;
    std::atomic<size_t> m_next{0};
    std::mutex m_lock;
    CheckProgress m_progress;
};

// The served list against the release the site should serve.
bool CompareWithRelease(const CheckOptions& options, const std::vector<FileEntry>& listed, CheckReport& report,
                        std::string& strError) {
    ReleaseScan scan;
    ScanOptions scanOptions = options.m_scan;
    scanOptions.m_strProduct = options.m_strProduct;
    if (!ScanRelease(options.m_strRelease, scanOptions, scan, strError)) return false;
    std::unordered_map<std::string, const FileEntry*> served;
    for (const FileEntry& e : listed) served.emplace(EntryKey(e.m_strDir, e.m_strName), &e);
    for (const PublishEntry& e : scan.m_entries) {
        auto it = served.find(EntryKey(e.m_strDir, e.m_strName));
        if (it == served.end()) {
            report.m_findings.push_back({Finding::Unlisted, e.m_strSiteRel, "in the release, not in the served list"});
            continue;
        }
        if (!e.m_bFolder && it->second->m_nCrc != e.m_nCrc)
            report.m_findings.push_back({Finding::Stale, e.m_strSiteRel, "the served list has another checksum than the release"});
        served.erase(it);
    }
    for (const auto& left : served)
        report.m_findings.push_back({Finding::Stale, ClientLocalPath(left.second->m_strDir, left.second->m_strName),
                                     "listed by the site, not in the release"});
    return true;
}

}  // namespace

const char* FindingName(Finding nKind) {
    switch (nKind) {
        case Finding::Missing: return "missing";
        case Finding::Wrong: return "wrong";
        case Finding::Stale: return "stale";
        case Finding::Unlisted: return "unlisted";
        case Finding::Failed: return "failed";
        case Finding::Damaged: return "damaged";
    }
    return "?";
}

bool CheckSite(const SiteAddress& address, const CheckOptions& options, CheckReport& report, std::string& strError) {
    std::vector<FileEntry> listed;
    Manifest manifest;
    bool bSigned = false;
    {
        std::unique_ptr<SiteFetcher> fetcher = OpenSiteFetcher(address, strError);
        std::string strList;
        if (!fetcher || !FetchList(*fetcher, options.m_strProduct, listed, strList, strError)) return false;
        bSigned = CheckSignature(*fetcher, options, strList, manifest, report);
    }
    if (!options.m_strRelease.empty() && !CompareWithRelease(options, listed, report, strError)) return false;
    std::vector<FileEntry> files;
    for (const FileEntry& e : listed)
        if (NameHasDot(e.m_strName)) files.push_back(e);
    report.m_nListed = static_cast<unsigned>(files.size());
    ParallelChecker checker(address, options, files, bSigned ? &manifest : nullptr);
    checker.Run();
    for (const FileResult& r : checker.Results()) {
        report.m_nBytes += r.m_nBytes;
        report.m_findings.insert(report.m_findings.end(), r.m_findings.begin(), r.m_findings.end());
    }
    return true;
}
