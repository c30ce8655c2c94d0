// publish: turns a release folder into the site tree the update client reads.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tools/Publisher.h"
#include "tools/SiteSigning.h"  // signing (keygen, --key, --expires-days)

namespace {

const char* const USAGE =
    "Usage: publish [--skip-unsafe] <release-folder> <site-folder> <product>\n"
    "\n"
    "Publishes the files of <release-folder> for the update client of <product>\n"
    "(\"Hollo\" for the game hall, or a game's product name). It writes\n"
    "  <site-folder>/kroupdate/<product>/release/...      the files, same relative paths\n"
    "  <site-folder>/kroupdate/<product>/filelist.list    one line per folder and file\n"
    "Serve <site-folder> as the document root of any static web server.\n"
    "\n"
    "Every folder gets an entry of its own before its contents, so the client\n"
    "creates it before fetching into it. Files are copied under a temporary name\n"
    "and moved into place; the list is written last. Files that an earlier release\n"
    "left in the site's release folder stay there but are no longer listed.\n"
    "\n"
    "The client tells files from folders by a \".\" in the name, so a file needs\n"
    "one and a folder must have none. Paths the client can't take as they are\n"
    "are refused, each named with the reason: names with \":\", a backslash byte\n"
    "(also as the second byte of a GBK character), < > \" | ? * # % or a control\n"
    "character, names ending in a dot or blank, device names (CON, NUL, ...),\n"
    "names differing only in letter case, symbolic links and junctions (never\n"
    "followed), and anything that is not a regular file or folder. Names are taken\n"
    "byte for byte, so Chinese names must be in GBK, as the client reads them.\n"
    "\n"
    "Options:\n"
    "  --skip-unsafe   leave refused paths out (each is named) instead of failing\n"
    "  -h, --help      show this text\n"
    "\n"
    "Exit status: 0 published; 1 refused paths or an error, nothing published;\n"
    "2 wrong command line.\n";

struct Options {
    bool m_bSkipUnsafe = false;
    std::vector<std::string> m_args;
    SigningOptions m_signing;
};

// 0: go on; otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "-h") || !strcmp(argv[i], "--help")) {
            fputs(USAGE, stdout);
            fputs(SIGNING_USAGE, stdout);
            return -1;
        }
        if (int nTaken = TakeSigningOption(argc, argv, i, opt.m_signing)) {
            if (nTaken != 1) return nTaken;
            continue;
        }
        if (!strcmp(argv[i], "--skip-unsafe")) opt.m_bSkipUnsafe = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            fprintf(stderr, "publish: unknown option %s (see publish --help)\n", argv[i]);
            return 2;
        } else {
            opt.m_args.push_back(argv[i]);
        }
    }
    if (opt.m_args.size() != 3) {
        fputs("publish: expected <release-folder> <site-folder> <product> (see publish --help)\n", stderr);
        return 2;
    }
    return 0;
}

// Names every refused path; true when publishing may go on.
bool ReportProblems(const ReleaseScan& scan, bool bSkipUnsafe) {
    for (const PublishProblem& p : scan.m_problems)
        fprintf(stderr, "publish: %s: %s %s\n", bSkipUnsafe ? "left out" : "refused", p.m_strRelPath.c_str(),
                p.m_strReason.c_str());
    if (scan.m_problems.empty() || bSkipUnsafe) return true;
    fprintf(stderr, "publish: %u path(s) refused, nothing published (--skip-unsafe leaves them out)\n",
            static_cast<unsigned>(scan.m_problems.size()));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && !strcmp(argv[1], "keygen")) return KeygenMain(argc, argv);
    Options opt;
    int nStatus = ParseOptions(argc, argv, opt);
    if (nStatus != 0) return nStatus < 0 ? 0 : nStatus;
    const std::string& strRelease = opt.m_args[0];
    const std::string& strSite = opt.m_args[1];
    const std::string& strProduct = opt.m_args[2];
    if (const char* pszWhy = ProductProblem(strProduct)) {
        fprintf(stderr, "publish: product %s: %s\n", strProduct.c_str(), pszWhy);
        return 2;
    }
    ReleaseScan scan;
    std::string strError;
    if (SigningRequested(opt.m_signing) && !LoadSigningKey(opt.m_signing, strError)) {
        fprintf(stderr, "publish: %s\n", strError.c_str());
        return 1;
    }
    if (!ScanRelease(strRelease, scan, strError)) {
        fprintf(stderr, "publish: %s\n", strError.c_str());
        return 1;
    }
    if (!ReportProblems(scan, opt.m_bSkipUnsafe)) return 1;
    if (scan.m_entries.empty()) {
        fputs("publish: every path was left out, nothing to publish\n", stderr);
        return 1;
    }
    if (!WriteSite(strRelease, strSite, strProduct, scan.m_entries, strError)) {
        fprintf(stderr, "publish: %s\n", strError.c_str());
        return 1;
    }
    if (SigningRequested(opt.m_signing) &&
        !WriteSignedManifest(strSite, strProduct, scan.m_entries, opt.m_signing, time(nullptr), strError)) {
        fprintf(stderr, "publish: %s\n", strError.c_str());
        return 1;
    }
    unsigned nFolders = 0;
    for (const PublishEntry& e : scan.m_entries) nFolders += e.m_bFolder ? 1 : 0;
    printf("publish: %u file(s) and %u folder(s) of %s published to %s/kroupdate/%s\n",
           static_cast<unsigned>(scan.m_entries.size() - nFolders), nFolders, strRelease.c_str(), strSite.c_str(),
           strProduct.c_str());
    return 0;
}
