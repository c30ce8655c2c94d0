// Publishing test releases with the real publisher and reading nginx's log.
#include "support/Releases.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "support/Processes.h"
#include "support/ScriptedServer.h"
#include "net/PatchName.h"
#include "update/Checksum.h"
#include "tools/Publisher.h"
#include "tools/SiteReleases.h"
#include "tools/SiteSigning.h"

namespace testing_support {

namespace {

std::string ToBackslashes(std::string s) {
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

void MakeParents(const std::string& strRoot, const std::string& strRel) {
    std::string rel = ToBackslashes(strRel);
    for (size_t pos = rel.find('\\'); pos != std::string::npos; pos = rel.find('\\', pos + 1))
        CreateDirectoryA((strRoot + rel.substr(0, pos)).c_str(), nullptr);
}

// Writes the release folder and the site; entries says what was published.
bool WriteRelease(const std::string& strProduct, const ReleaseFiles& files, std::vector<PublishEntry>& entries,
                  const PublishOptions& options = PublishOptions(), uint64_t nIndexMin = 0) {
    std::string root = FreshDir("release-" + strProduct);
    for (const auto& f : files) {
        MakeParents(root, f.first);
        if (!f.first.empty() && f.first.back() == '/') {
            CreateDirectoryA((root + ToBackslashes(f.first)).c_str(), nullptr);
        } else if (!WriteWholeFile(root + ToBackslashes(f.first), f.second)) {
            return false;
        }
    }
    root.pop_back();  // the publisher takes folders without a final separator
    ReleaseScan scan;
    std::string error;
    ScanOptions scanOptions;
    scanOptions.m_digest.m_nIndexMin = nIndexMin;
    scanOptions.m_digest.m_bSha256 = nIndexMin > 0;  // an index is made with its file's SHA-256
    if (!ScanRelease(root, scanOptions, scan, error) || !scan.m_problems.empty()) return false;
    std::string site = WinePathFromEnv("SELFRENEW_SITE");
    CreateDirectoryA(site.c_str(), nullptr);
    site.pop_back();
    entries = scan.m_entries;
    PublishResult result;
    return PublishSite(root, site, strProduct, scan.m_entries, options, result, error);
}

}  // namespace

std::string SeededBytes(size_t n, unsigned nSeed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        nSeed = nSeed * 1103515245u + 12345u;
        s[i] = static_cast<char>(nSeed >> 16);
    }
    return s;
}

bool PublishRelease(const std::string& strProduct, const ReleaseFiles& files, uint64_t nIndexMin) {
    std::vector<PublishEntry> entries;
    return WriteRelease(strProduct, files, entries, PublishOptions(), nIndexMin);
}

bool PublishPatchedRelease(const std::string& strProduct, const ReleaseFiles& files, unsigned nPatchFrom,
                           const std::string& strPrivatePem) {
    PublishOptions options;
    options.m_nKeep = nPatchFrom + 1;
    options.m_patch.m_nMinBytes = net::PATCH_MIN_BYTES;
    options.m_patch.m_nFrom = nPatchFrom;
    options.m_patch.m_bNameBySha256 = !strPrivatePem.empty();
    options.m_patch.m_nLevel = 9;  // the format of level 19, in less of the tests' time
    if (strPrivatePem.empty()) {
        std::vector<PublishEntry> entries;
        return WriteRelease(strProduct, files, entries, options);
    }
    return PublishSignedRelease(strProduct, files, strPrivatePem, static_cast<uint64_t>(time(nullptr)), 0, &options);
}

bool PublishSignedRelease(const std::string& strProduct, const ReleaseFiles& files, const std::string& strPrivatePem,
                          uint64_t nNow, unsigned nExpiresDays, const PublishOptions* pOptions,
                          uint64_t nIndexMin) {
    // The live release's manifest names the serial the next one must pass; the
    // switch to a new release folder leaves it behind, so it comes along.
    std::string strLiveSig = ReadWholeFile(SiteProductFilePath(strProduct, "filelist.sig"));
    std::vector<PublishEntry> entries;
    if (!WriteRelease(strProduct, files, entries, pOptions ? *pOptions : PublishOptions(), nIndexMin)) return false;
    if (!strLiveSig.empty() && ReadWholeFile(SiteProductFilePath(strProduct, "filelist.sig")).empty() &&
        !WriteWholeFile(SiteProductFilePath(strProduct, "filelist.sig"), strLiveSig))
        return false;
    SigningOptions opt;
    opt.m_strKeyPem = strPrivatePem;
    opt.m_nExpiresDays = nExpiresDays;
    std::string site = WinePathFromEnv("SELFRENEW_SITE"), error;
    site.pop_back();
    return WriteSignedManifest(site, strProduct, entries, opt, nNow, error);
}

std::string SiteProductFilePath(const std::string& strProduct, const std::string& strName) {
    return WinePathFromEnv("SELFRENEW_SITE") + "kroupdate\\" + strProduct + "\\" + strName;
}

std::string SiteFilePath(const std::string& strProduct, const std::string& strRelPath) {
    return WinePathFromEnv("SELFRENEW_SITE") + "kroupdate\\" + strProduct + "\\release\\" + ToBackslashes(strRelPath);
}

void ScriptSlowRelease(testsupport::ScriptedServer& server, const std::string& strProduct,
                       const std::string& strName, const std::string& strBody) {
    char list[300];
    std::snprintf(list, sizeof(list), "/:%s:%d\r\nend\r\n", strName.c_str(),
                  static_cast<int>(ChecksumUpdate(ChecksumStart(), strBody.data(), strBody.size())));
    server.Script("/kroupdate/" + strProduct + "/filelist.list", testsupport::Reply::Ok(list));
    server.Script("/kroupdate/" + strProduct + "/release/" + strName, testsupport::Reply::Drip(strBody, 1000, 100));
}

unsigned short NginxPort() {
    return static_cast<unsigned short>(std::atoi(ReadWholeFile(WinePathFromEnv("SELFRENEW_NGINX") + "port").c_str()));
}

std::vector<LoggedRequest> NginxRequests() {
    std::vector<LoggedRequest> out;
    std::istringstream log(ReadWholeFile(WinePathFromEnv("SELFRENEW_NGINX") + "access.log"));
    std::string line;
    while (std::getline(log, line)) {
        // "GET /path HTTP/1.0\t200\t..."
        size_t sp1 = line.find(' ');
        size_t sp2 = line.find(' ', sp1 + 1);
        size_t tab = line.find('\t');
        if (sp1 == std::string::npos || sp2 == std::string::npos || tab == std::string::npos) continue;
        LoggedRequest r;
        r.strTarget = line.substr(sp1 + 1, sp2 - sp1 - 1);
        r.strPath = testsupport::StaticPath(r.strTarget);
        r.nStatus = std::atoi(line.c_str() + tab + 1);
        size_t tab2 = line.find('\t', tab + 1);
        if (tab2 != std::string::npos) r.nBytes = std::strtoull(line.c_str() + tab2 + 1, nullptr, 10);
        out.push_back(r);
    }
    return out;
}

std::vector<LoggedRequest> NginxRequestsAfter(size_t nSkip, size_t nAtLeast) {
    std::vector<LoggedRequest> all;
    WaitUntil([&] { return (all = NginxRequests()).size() >= nSkip + nAtLeast; }, 3000);
    if (all.size() <= nSkip) return {};
    return std::vector<LoggedRequest>(all.begin() + static_cast<long>(nSkip), all.end());
}

}  // namespace testing_support
