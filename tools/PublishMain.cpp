// publish: puts a release folder live for the update client, checks what a
// site serves, and rolls a site back. One table holds the commands.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/PublishCommands.h"
#include "tools/SiteFetcher.h"
#include "tools/SiteSigning.h"

namespace {

const char* const HELP =
    "Usage:\n"
    "  publish [--keep N] [--dry-run] [--skip-unsafe] [--names native|gbk] [--delta-min SIZE|off]\n"
    "          [--patch-min SIZE|off] [--patch-from N] [--key <private.pem> [--expires-days N]] <release-folder> <site-folder> <product>\n"
    "  publish check <http://host[:port]> <product> [--release <folder>] [--key <public.pem>] [--parallel N]\n"
    "          [--names native|gbk]\n"
    "  publish rollback <site-folder> <product>\n"
    "  publish keygen <dir>\n"
    "  publish help | --help | -h\n"
    "\n"
    "publish: puts the files of <release-folder> live for the update client of\n"
    "<product> (\"Hollo\" for the game hall, or a game's product name):\n"
    "  <site-folder>/releases/<product>/<id>/   a new release: filelist.list, publish.id, release/...\n"
    "  <site-folder>/kroupdate/<product>        the live release the client reads\n"
    "(A release folder named like a command is given as ./check.)\n"
    "Serve <site-folder> as the document root of a static web server. The new\n"
    "release is written beside the live one and switched to in one step (on Linux\n"
    "a symbolic link renamed over the old one; on Windows two folder renames,\n"
    "between which the list answers 404 for a moment), so a request never sees a\n"
    "list and files of different releases. It prints the files added, changed and\n"
    "removed against the live release and the bytes a player on it downloads.\n"
    "  --keep N        releases kept, the live one included (default 2, at least 1)\n"
    "  --dry-run       print the changes and the refused paths, write nothing\n"
    "  --skip-unsafe   leave refused paths out (each is named) instead of failing\n"
    "  --names gbk     the release's names are GBK bytes already (default: UTF-8 on\n"
    "                  Linux, the ANSI code page on Windows, converted to GBK)\n"
    "  --delta-min SIZE  files of SIZE or more get a block index (default 1M; K, M\n"
    "                  and G are powers of 1024, at least 4K; off: none), written to\n"
    "                  <id>/blocks/<the file's path below release/>: clients then\n"
    "                  fetch only the blocks of a changed file they don't hold; about\n"
    "                  12 bytes per block (blocks of 4 KiB to 1 MiB, about the square\n"
    "                  root of the file's size)\n"
    "  --patch-min SIZE  changed files of SIZE or more get binary patches (default\n"
    "                  64K; off: none), one against each of the --patch-from N\n"
    "                  newest kept releases whose copy differs (default 1: the live\n"
    "                  one), written to <id>/patches/<the file's path>/<base size>-\n"
    "                  <base SHA-256, or checksum unsigned>; a patch not smaller than\n"
    "                  half its file, or of a file whose old and new copies pass\n"
    "                  512 MiB together, is not written\n"
    "\n"
    "The client reads names in GBK and tells files from folders by a \".\" in the\n"
    "name, so a file needs one and a folder must have none. Refused, each named\n"
    "with the reason, nothing written: names GBK can't hold; names with \":\", a\n"
    "backslash (also as the second byte of a GBK character), < > \" | ? * # % or a\n"
    "control character (\"|\" as a second byte is fine); names starting with a blank\n"
    "or ending in a dot or blank; device names (CON, NUL, ...); names differing only\n"
    "in letter case; symbolic links and junctions (never followed); anything not a\n"
    "regular file or folder; and paths too long for the client's 260-byte buffers:\n"
    "the local path <dir>\\<name> plus its 5-byte temporary suffix \".part\" must stay\n"
    "under 260 bytes, and so must /kroupdate/<product>/release/<dir>/<name>.\n"
    "Listed with a warning, as the client never fetches them: files named\n"
    "winmm.dll, anything in the folder UpdateINI, and selfrenew.kro.\n"
    "\n"
    "check: fetches /kroupdate/<product>/filelist.list and every listed file from\n"
    "the site, asking for each the way the client does, and names every file that\n"
    "is missing, wrong (bytes against the list's checksum) or failed, and every\n"
    "block index it finds that doesn't fit its file (damaged: unreadable, or made\n"
    "for another size or SHA-256). With\n"
    "--release it also compares the served list with that release folder: stale\n"
    "(another checksum, or listed but not in the release) and unlisted entries.\n"
    "It fetches filelist.sig too and names it when it signs another list than the\n"
    "one served, and each file whose bytes aren't the signed ones; with --key it\n"
    "also verifies the signature (and a missing filelist.sig is a finding). Point\n"
    "it at a cache or CDN address as well as at the origin: it asks as players do.\n"
    "  --parallel N    requests at once (default 4, 1 to 64)\n"
    "\n"
    "rollback: makes the newest kept release older than the live one live again.\n"
    "\n"
    "Exit status: 0 done (check: nothing found); 1 refused paths, problems found or\n"
    "an error; 2 wrong command line.\n";

struct CommandForm {
    const char* m_pszName;  // nullptr: the default command
    size_t m_nOperands;
    const char* m_pszFlags;         // options without a value, "|"-separated
    const char* m_pszValueOptions;  // options with a value
    int (*m_pRun)(const CommandLine&);
};

const CommandForm COMMANDS[] = {
    {"check", 2, "", "--release|--parallel|--names|--key", RunCheck},
    {"rollback", 2, "", "", RunRollback},
    {"keygen", 1, "", "", RunKeygen},
    {nullptr, 3, "--dry-run|--skip-unsafe", "--keep|--names|--key|--expires-days|--delta-min|--patch-min|--patch-from", RunPublish},
};

bool InList(const char* pszList, const std::string& strName) {
    std::string strList = std::string("|") + pszList + "|";
    return !strName.empty() && strList.find("|" + strName + "|") != std::string::npos;
}

// 0: go on; otherwise the exit status.
int ParseLine(const CommandForm& form, int argc, char** argv, int nFirst, CommandLine& line) {
    for (int i = nFirst; i < argc; ++i) {
        std::string strArg = argv[i];
        size_t nEq = strArg.find('=');
        std::string strName = strArg.substr(0, nEq);
        if (strArg.size() < 2 || strArg[0] != '-') {
            line.m_args.push_back(strArg);
        } else if (InList(form.m_pszFlags, strArg)) {
            line.m_options[strArg] = "";
        } else if (InList(form.m_pszValueOptions, strName) && nEq != std::string::npos) {
            line.m_options[strName] = strArg.substr(nEq + 1);
        } else if (InList(form.m_pszValueOptions, strArg) && i + 1 < argc) {
            line.m_options[strArg] = argv[++i];
        } else {
            fprintf(stderr, "publish: unknown option or missing value: %s (see publish --help)\n", argv[i]);
            return 2;
        }
    }
    if (line.m_args.size() != form.m_nOperands) {
        fprintf(stderr, "publish%s%s: expected %u operands (see publish --help)\n", form.m_pszName ? " " : "",
                form.m_pszName ? form.m_pszName : "", static_cast<unsigned>(form.m_nOperands));
        return 2;
    }
    return 0;
}

bool WantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!strcmp(argv[i], "-h") || !strcmp(argv[i], "--help")) return true;
    return argc == 2 && !strcmp(argv[1], "help");
}

}  // namespace

int main(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        fputs(HELP, stdout);
        fputs(SIGNING_USAGE, stdout);
        return 0;
    }
    const CommandForm* pForm = &COMMANDS[sizeof COMMANDS / sizeof COMMANDS[0] - 1];
    int nFirst = 1;
    for (const CommandForm& form : COMMANDS)
        if (form.m_pszName && argc > 1 && !strcmp(argv[1], form.m_pszName)) {
            pForm = &form;
            nFirst = 2;
        }
    CommandLine line;
    if (int nStatus = ParseLine(*pForm, argc, argv, nFirst, line)) return nStatus;
    if (!SiteFetchStartup()) {
        fputs("publish: can't start the HTTP library\n", stderr);
        return 1;
    }
    int nStatus = pForm->m_pRun(line);
    SiteFetchCleanup();
    return nStatus;
}
