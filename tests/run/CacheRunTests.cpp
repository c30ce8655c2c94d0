// Releases through real caches: Varnish with its built-in settings, squid and
// Traffic Server as reverse proxies and nginx's proxy_cache, each set up as
// the operators' guide says, in front of the tests' nginx, which sends the
// guide's cache headers. For each, the
// cache is warmed on release one, release two is published, and players run
// at once: signed or not, updating or installing afresh, each ends with
// release two byte for byte, and a changed archive moves only its changed spans.
#include "run/RunFixture.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "support/ScriptedServer.h"
#include "update/MakeFolders.h"
#include "tools/KeyPem.h"
#include "tools/Signing.h"
#include "update/SerialStore.h"

using namespace testing_support;

namespace {

const uint64_t kIndexMin = 1024 * 1024;  // as publish indexes files

// A cache of the suite: its state folder's environment variable, and what
// its log counts beside the bodies (squid and Traffic Server count the reply
// headers too).
struct Cache {
    const char* pszName;
    const char* pszStateEnv;
    uint64_t nHeaderAllowance;
    DWORD nLogQuietMs;  // how long its log stays unchanged once a run's lines are in
};
const Cache kCaches[] = {{"varnish", "SELFRENEW_VARNISH", 0, 0},
                         {"squid", "SELFRENEW_SQUID_CACHE", 2048, 0},
                         {"trafficserver", "SELFRENEW_TRAFFICSERVER", 2048, 3000},
                         {"nginx_cache", "SELFRENEW_NGINX_CACHE", 0, 0}};

unsigned short CachePort(const Cache& cache) {
    return static_cast<unsigned short>(std::atoi(ReadWholeFile(WinePathFromEnv(cache.pszStateEnv) + "port").c_str()));
}

// Bytes the cache sent to players for the path, from its access log
// ("GET http://host:port/path HTTP/1.1\tstatus\tbytes\trange").
uint64_t BytesToPlayers(const Cache& cache, size_t nSkipLines, const std::string& strPathEnd) {
    std::istringstream log(ReadWholeFile(WinePathFromEnv(cache.pszStateEnv) + "access.log"));
    std::string line;
    uint64_t nBytes = 0;
    for (size_t n = 0; std::getline(log, line); ++n) {
        size_t nTab = line.find('\t'), nSpace = line.rfind(' ', nTab);
        if (n < nSkipLines || nTab == std::string::npos || nSpace == std::string::npos) continue;
        std::string strPath = testsupport::StaticPath(line.substr(0, nSpace));
        if (strPath.size() < strPathEnd.size() || strPath.compare(strPath.size() - strPathEnd.size(), std::string::npos, strPathEnd) != 0)
            continue;
        nBytes += std::strtoull(line.c_str() + line.find('\t', nTab + 1) + 1, nullptr, 10);
    }
    return nBytes;
}

size_t CacheLogLines(const Cache& cache) {
    std::string strLog = ReadWholeFile(WinePathFromEnv(cache.pszStateEnv) + "access.log");
    return static_cast<size_t>(std::count(strLog.begin(), strLog.end(), '\n'));
}

// The log's length once a run's lines are all in (Traffic Server writes its
// buffer a few seconds late).
size_t SettledLogLines(const Cache& cache) {
    size_t nLines = CacheLogLines(cache);
    for (DWORD dwSince = GetTickCount(); GetTickCount() - dwSince < cache.nLogQuietMs;) {
        Sleep(100);
        size_t nNow = CacheLogLines(cache);
        if (nNow != nLines) dwSince = GetTickCount();
        nLines = nNow;
    }
    return nLines;
}

class CacheRunTest : public RunTest {
protected:
    // Release one warms the cache, release two goes live, and players run at once.
    void RunThrough(const Cache& cache, const ReleaseFiles& one, const ReleaseFiles& two, const unsigned char* xy,
                    const std::string& strPrivate);
    void Install(const ReleaseFiles& files) {
        CleanProgramFolder();
        for (const auto& f : files) {
            std::string path = m_strProgramDir + f.first;
            std::replace(path.begin(), path.end(), '/', '\\');
            MakeDirectoryPath(path.substr(0, path.rfind('\\')).c_str());
            ASSERT_TRUE(WriteWholeFile(path, f.second)) << f.first;
        }
    }
    void ExpectInstalled(const ReleaseFiles& files, const char* pszCase) {
        for (const auto& f : files) {
            std::string path = m_strProgramDir + f.first;
            std::replace(path.begin(), path.end(), '/', '\\');
            EXPECT_TRUE(ReadWholeFile(path) == f.second) << pszCase << ": " << f.first;
        }
    }
};

TEST_F(CacheRunTest, RightAfterAPublishEveryPlayerGetsTheNewReleaseThroughTheCache) {
    std::string strPrivate, strPublic, strError, strWhy;
    unsigned char xy[KEY_PUBLIC_BYTES] = {};
    ASSERT_TRUE(CreateKeyPairPem(strPrivate, strPublic, strError) && ReadPublicKeyPem(strPublic, xy, strWhy));
    const std::string strBig = SeededBytes(2 * 1024 * 1024, 7);  // 4 KiB blocks
    std::string strBigTwo = strBig;
    for (size_t nAt : {300000u, 1500000u}) strBigTwo.replace(nAt, 4096, SeededBytes(4096, static_cast<unsigned>(nAt)));
    const ReleaseFiles one = {{"a.dll", "one"}, {"data/b.txt", "release one"}, {"big.pak", strBig}};
    const ReleaseFiles two = {{"a.dll", "two"}, {"data/b.txt", "release two"}, {"big.pak", strBigTwo}, {"c.txt", "new"}};
    const std::string strTest = m_strProduct;
    for (const Cache& cache : kCaches) {
        SCOPED_TRACE(cache.pszName);
        ASSERT_NE(CachePort(cache), 0);
        m_strProduct = strTest + "_" + cache.pszName;
        RunThrough(cache, one, two, xy, strPrivate);
    }
}

void CacheRunTest::RunThrough(const Cache& cache, const ReleaseFiles& one, const ReleaseFiles& two,
                              const unsigned char* xy, const std::string& strPrivate) {
    ASSERT_TRUE(PublishSignedRelease(m_strProduct, one, strPrivate, UtcSecondsNow(), 0, nullptr, kIndexMin));
    CleanProgramFolder();
    {
        RecordingSession session;
        session.settings.SetKey(xy);
        ASSERT_TRUE(RunAgainst(session, CachePort(cache)));
        ASSERT_EQ(session.GetStatus(), TEXT_DONE);
        ExpectInstalled(one, "warming the cache");
    }
    ASSERT_TRUE(PublishSignedRelease(m_strProduct, two, strPrivate, UtcSecondsNow(), 0, nullptr, kIndexMin));
    // The first update finds the archive's new address cold in the cache,
    // the last finds it held whole since the fresh installs.
    struct Case { const char* pszName; bool bSigned; bool bFromOne; } cases[] = {
        {"signed, from release one", true, true},
        {"signed, a fresh install", true, false},
        {"unsigned, a fresh install", false, false},
        {"unsigned, from release one", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        if (c.bFromOne) {
            Install(one);
        } else {
            CleanProgramFolder();
        }
        size_t nLogged = SettledLogLines(cache);
        RecordingSession session;
        session.settings.SetKey(c.bSigned ? xy : nullptr);
        ASSERT_TRUE(RunAgainst(session, CachePort(cache)));
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
        ExpectInstalled(two, c.pszName);
        if (!c.bFromOne) continue;
        // Two changes of 4 KiB, each across two blocks, and the index (12 bytes a block).
        WaitUntil([&] { return BytesToPlayers(cache, nLogged, "/big.pak") > 0; }, 3000);
        SettledLogLines(cache);
        uint64_t nMoved = BytesToPlayers(cache, nLogged, "/big.pak");
        EXPECT_GT(nMoved, 0u) << "the cache logged nothing";
        EXPECT_LE(nMoved, 4 * 4096u + 12 * 512u + 1024u + cache.nHeaderAllowance);
    }
}

}  // namespace
