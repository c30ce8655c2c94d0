// publish check: what a mirror serves against what was published.
#include <cstdio>
#include <cstdlib>

#include "tools/GbkNames.h"
#include "tools/KeyPem.h"
#include "tools/ProgressLine.h"
#include "tools/PublishCommands.h"
#include "tools/SiteCheck.h"

namespace {

// A PEM file is a few hundred bytes; more is no key.
std::string KeyFileText(const std::string& strPath) {
    std::string strText;
    if (FILE* f = fopen(strPath.c_str(), "rb")) {
        char buf[8192];
        strText.assign(buf, fread(buf, 1, sizeof buf, f));
        fclose(f);
    }
    return strText;
}

}  // namespace

int RunCheck(const CommandLine& line) {
    SiteAddress address;
    std::string strError;
    if (!ParseSiteAddress(line.m_args[0], address, strError)) {
        fprintf(stderr, "publish check: %s\n", strError.c_str());
        return 2;
    }
    CheckOptions options;
    options.m_strProduct = line.m_args[1];
    options.m_strRelease = line.Value("--release", "");
    long nParallel = strtol(line.Value("--parallel", "4").c_str(), nullptr, 10);
    if (nParallel < 1 || nParallel > 64) {
        fputs("publish check: --parallel takes a number from 1 to 64\n", stderr);
        return 2;
    }
    options.m_nParallel = static_cast<unsigned>(nParallel);
    std::string strKey = line.Value("--key", "");
    if (!strKey.empty()) {
        unsigned char xy[KEY_PUBLIC_BYTES] = {};
        std::string strWhy;
        if (!ReadPublicKeyPem(KeyFileText(strKey), xy, strWhy)) {
            fprintf(stderr, "publish check: %s: %s\n", strKey.c_str(), strWhy.c_str());
            return 2;
        }
        options.m_strPublicKey.assign(reinterpret_cast<const char*>(xy), sizeof xy);
    }
    std::string strNames = line.Value("--names", "native");
    options.m_scan.m_nNames = strNames == "gbk" ? DiskNames::Gbk : DiskNames::Native;

    ProgressLine progress(stdout);
    options.m_onProgress = [&](const CheckProgress& p) {
        progress.Show("checking", p.m_nFilesDone, p.m_nFiles, p.m_nBytesDone, 0);
    };
    CheckReport report;
    bool bRan = CheckSite(address, options, report, strError);
    progress.Finish();
    if (!bRan) {
        fprintf(stderr, "publish check: %s\n", strError.c_str());
        return 1;
    }
    for (const CheckFinding& f : report.m_findings)
        printf("%s: %s: %s\n", FindingName(f.m_nKind), GbkForDisplay(f.m_strPath).c_str(), f.m_strDetail.c_str());
    printf("publish check: %u listed file(s), %.1f MB fetched from %s, %u problem(s)\n", report.m_nListed,
           static_cast<double>(report.m_nBytes) / (1024.0 * 1024.0), line.m_args[0].c_str(),
           static_cast<unsigned>(report.m_findings.size()));
    return report.m_findings.empty() ? 0 : 1;
}
