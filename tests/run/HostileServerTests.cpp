// Whole runs against servers that misbehave: what is served, what stays on
// disk, what the status line says at the end and how long it took; mirrors
// that fail one way or another; resumed transfers and a full disk.
#include "run/RunFixture.h"

#include <psapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "net/BlockIndex.h"
#include "net/DeltaMemory.h"
#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "support/ScriptedServer.h"
#include "update/Checksum.h"

using namespace testing_support;
using testsupport::Reply;

namespace {

std::string Body(size_t n, unsigned nSeed = 1) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        nSeed = nSeed * 1103515245u + 12345u;
        s[i] = static_cast<char>(nSeed >> 16);
    }
    return s;
}

int ListedCrc(const std::string& strBody) {
    return static_cast<int>(ChecksumUpdate(ChecksumStart(), strBody.data(), strBody.size()));
}

// The list of a product whose files are given with the bytes the list promises.
std::string ListOf(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string list;
    for (const auto& f : files) list += "/:" + f.first + ":" + std::to_string(ListedCrc(f.second)) + "\r\n";
    return list;
}

size_t CountPath(const testsupport::ScriptedServer& server, const std::string& strSuffix) {
    size_t n = 0;
    for (const auto& r : server.Requests())
        if (r.Path().size() >= strSuffix.size() && r.Path().compare(r.Path().size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0)
            ++n;
    return n;
}

class HostileTest : public RunTest {
protected:
    std::string Release(const std::string& strName) const {
        return "/kroupdate/" + m_strProduct + "/release/" + strName;
    }
    std::string ListPath() const { return "/kroupdate/" + m_strProduct + "/filelist.list"; }
    // One run of the product against the servers in this order.
    bool RunOn(RecordingSession& session, const std::vector<unsigned short>& ports, DWORD nTimeoutMs = 60000,
               int nConnections = 4) {
        std::vector<UpdateServer> servers;
        for (unsigned short nPort : ports) servers.push_back({"127.0.0.1", nPort, nConnections});
        session.settings.strProduct = m_strProduct;
        session.SetListener(this);
        session.StartOn(servers);
        return WaitForRunEnd(nTimeoutMs);
    }
};

TEST_F(HostileTest, AFileServedWrongNeverReplacesTheInstalledOne) {
    const std::string good = Body(3000);
    struct Case {
        const char* pszName;
        std::vector<Reply> replies;
        bool bInstalled;
        size_t nRequests;     // of the file
        DWORD nAtLeastMs, nAtMostMs;
        bool bReadOnly = false;  // the installed file
        const char* pszStatus = nullptr;  // at the end, when not done or (G)
    } cases[] = {
        {"garbage twice", {Reply::Ok("garbage")}, false, 2, 0, 8000},
        {"garbage, then the listed bytes", {Reply::Ok("garbage"), Reply::Ok(good)}, true, 2, 0, 8000},
        {"gzip-encoded bytes", {Reply::Ok("\x1f\x8b\x08 gz").Headers({"Content-Encoding: gzip"})}, false, 2, 0, 8000},
        {"cut once, then whole", {Reply::Cut(good, 1800), Reply::Ok(good)}, true, 2, 400, 8000},
        {"500 every time: three retries", {Reply::Status(500)}, false, 4, 3300, 10000},
        {"404: no retry", {Reply::Status(404)}, false, 1, 0, 5000},
        {"redirect loop: five hops, then no more", {Reply::RedirectTo("SELF")}, false, 6, 0, 5000},
        {"100 GB announced: past the free space", {Reply::Endless(99999999999ull)}, false, 1, 0, 5000, false, TEXT_DISK_FULL},
        {"silent after the headers, then whole", {Reply::StallAfter(good, 1000, 20000), Reply::Ok(good)}, true, 2, 1500, 10000},
        {"silent before the headers, then whole", {Reply::BlackHole(), Reply::Ok(good)}, true, 2, 1500, 10000},
        {"good bytes over a read-only file", {Reply::Ok(good)}, true, 1, 0, 3000, true},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_strProduct = std::string("hostile") + std::to_string(&c - cases);
        CleanProgramFolder();
        ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "x.dll", "old"));
        if (c.bReadOnly) SetFileAttributesA((m_strProgramDir + "x.dll").c_str(), FILE_ATTRIBUTE_READONLY);
        testsupport::ScriptedServer server;
        ASSERT_TRUE(server.Start());
        server.Script(ListPath(), Reply::Ok(ListOf({{"x.dll", good}, {"y.dll", "why"}})));
        for (Reply& r : c.replies)
            if (r.location == "SELF") r.location = Release("x.dll");
        server.Script(Release("x.dll"), c.replies);
        server.Script(Release("y.dll"), Reply::Ok("why"));
        RecordingSession session;
        session.settings.nStallLimitMs = 1500;
        DWORD start = GetTickCount();
        ASSERT_TRUE(RunOn(session, {server.Port()}));
        DWORD nMs = GetTickCount() - start;
        EXPECT_EQ(ReadWholeFile(m_strProgramDir + "x.dll"), c.bInstalled ? good : "old");
        EXPECT_EQ(ReadWholeFile(m_strProgramDir + "y.dll"), "why") << "the other file installs";
        EXPECT_EQ(session.GetStatus(), c.pszStatus ? c.pszStatus : c.bInstalled ? TEXT_DONE : TEXT_FILE_FAILED);
        EXPECT_EQ(CountPath(server, "/x.dll"), c.nRequests);
        EXPECT_GE(nMs, c.nAtLeastMs);
        EXPECT_LE(nMs, c.nAtMostMs);
        EXPECT_EQ(g_bRunResult, 1);
        EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "x.dll.part").c_str()));
        server.Stop();
    }
}

TEST_F(HostileTest, AListServedWrongFailsTheRunInBoundedTime) {
    struct Case {
        const char* pszName;
        Reply reply;
        DWORD nAtMostMs;
    } cases[] = {
        {"over 64 MB announced", Reply::Endless(100ull * 1024 * 1024), 5000},
        {"redirect loop", Reply::RedirectTo("SELF"), 5000},
        {"silent after the headers", Reply::StallAfter(std::string(5000, 'x'), 100, 20000), 6000},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        testsupport::ScriptedServer server;
        ASSERT_TRUE(server.Start());
        if (c.reply.location == "SELF") c.reply.location = ListPath();
        server.Script(ListPath(), c.reply);
        RecordingSession session;
        session.settings.nStallLimitMs = 1500;
        DWORD start = GetTickCount();
        ASSERT_TRUE(RunOn(session, {server.Port()}));
        EXPECT_LE(GetTickCount() - start, c.nAtMostMs);
        EXPECT_EQ(session.GetStatus(), TEXT_LIST_FAILED);
        EXPECT_EQ(g_bRunResult, 0);
        EXPECT_LE(server.Requests().size(), 6u);
        server.Stop();
    }
}

// The real limit, under Wine's own WinINet: no byte for 30 s fails the request.
TEST_F(HostileTest, ABlackHoledListGivesUpAtThirtySeconds) {
    testsupport::ScriptedServer server;
    ASSERT_TRUE(server.Start());
    server.Script(ListPath(), Reply::BlackHole());
    RecordingSession session;
    DWORD start = GetTickCount();
    ASSERT_TRUE(RunOn(session, {server.Port()}, 90000));
    DWORD nMs = GetTickCount() - start;
    EXPECT_GE(nMs, 30000u);
    EXPECT_LE(nMs, 40000u) << "30 s of silence, then the 2 s of the message";
    EXPECT_EQ(session.GetStatus(), TEXT_LIST_FAILED);
    server.Stop();
}

TEST_F(HostileTest, ARedirectToAnotherServerHoldsForThatRequestOnly) {
    testsupport::ScriptedServer home, other;
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(other.Start());
    home.Script(ListPath(), Reply::Ok(ListOf({{"a.dll", "aaa"}, {"b.dll", "bbb"}, {"c.dll", "ccc"}})));
    home.Script(Release("a.dll"), Reply::RedirectTo("http://127.0.0.1:" + std::to_string(other.Port()) + "/moved/a.dll"));
    // A network-path reference names the other server as well.
    home.Script(Release("b.dll"), Reply::RedirectTo("//127.0.0.1:" + std::to_string(other.Port()) + "/moved/b.dll"));
    home.Script(Release("c.dll"), Reply::Ok("ccc"));
    other.Script("/moved/a.dll", Reply::Ok("aaa"));
    other.Script("/moved/b.dll", Reply::Ok("bbb"));
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, home.Port(), 60000, 1));
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "a.dll"), "aaa");
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "b.dll"), "bbb");
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "c.dll"), "ccc");
    EXPECT_EQ(other.Requests().size(), 2u);
    EXPECT_EQ(CountPath(home, "/c.dll"), 1u);
    home.Stop();
    other.Stop();
}

TEST_F(HostileTest, EveryMirrorIsTriedForTheListAndForEachFile) {
    const std::string good = Body(5000, 7);
    struct Case {
        const char* pszName;
        Reply firstList;       // what the first server answers for the list
        bool bFirstRefuses;    // nothing listens on the first server
        bool bFileFromSecond;  // the first server's file is missing
    } cases[] = {
        {"first refuses connections", Reply::Status(500), true, false},
        {"first answers the list with 500", Reply::Status(500), false, false},
        {"first black-holes the list", Reply::BlackHole(), false, false},
        {"first serves an error page as the list", Reply::Ok("<html>busy</html>"), false, false},
        {"first lacks the file", Reply::Ok(""), false, true},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_strProduct = std::string("mirror") + std::to_string(&c - cases);
        CleanProgramFolder();
        testsupport::ScriptedServer first, second;
        testsupport::RefusedPort refused;
        ASSERT_TRUE(first.Start());
        ASSERT_TRUE(second.Start());
        std::string list = ListOf({{"m.dll", good}});
        first.Script(ListPath(), c.bFileFromSecond ? Reply::Ok(list) : c.firstList);
        first.Script(Release("m.dll"), c.bFileFromSecond ? Reply::Status(404) : Reply::Ok(good));
        second.Script(ListPath(), Reply::Ok(list));
        second.Script(Release("m.dll"), Reply::Ok(good));
        RecordingSession session;
        session.settings.nStallLimitMs = 1500;
        DWORD start = GetTickCount();
        ASSERT_TRUE(RunOn(session, {c.bFirstRefuses ? refused.Port() : first.Port(), second.Port()}));
        EXPECT_LE(GetTickCount() - start, 8000u);
        EXPECT_EQ(ReadWholeFile(m_strProgramDir + "m.dll"), good);
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
        EXPECT_EQ(g_bRunResult, 1);
        std::vector<std::string> texts = session.Texts(STATUS_MESSAGE);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), TEXT_CONNECTING), c.bFileFromSecond ? 1 : 2);
        first.Stop();
        second.Stop();
    }
}

TEST_F(HostileTest, ACutLargeFileResumesWithRangeAndAKilledRunsPartToo) {
    const std::string big = Body(3 * 1024 * 1024, 3);
    testsupport::ScriptedServer server;
    ASSERT_TRUE(server.Start());
    server.Script(ListPath(), Reply::Ok(ListOf({{"big.pak", big}})));
    server.Script(Release("big.pak"), {Reply::Cut(big, big.size() * 6 / 10).Headers({"ETag: \"v1\""}), Reply::Ranged(big)});
    {
        RecordingSession session;
        ASSERT_TRUE(RunOn(session, {server.Port()}));
    }
    EXPECT_TRUE(ReadWholeFile(m_strProgramDir + "big.pak") == big);
    std::vector<testsupport::ServedRequest> log = server.Requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].Header("Range"), "");
    EXPECT_EQ(log[2].Header("Range"), "bytes=" + std::to_string(big.size() * 6 / 10) + "-");
    EXPECT_EQ(log[2].Header("If-Range"), "\"v1\"");
    server.Stop();

    // What a killed run leaves: part of the file and the validator beside it
    // (with the file's size since notes carry it). The server answers a
    // matching If-Range with the rest, another with the whole file; a part
    // that is already whole can't be continued and is fetched again at once.
    const std::string strSize = std::to_string(big.size());
    struct Case {
        const char* pszName;
        size_t nKept;
        std::string strNote;
        std::vector<std::string> ranges;  // the Range headers of the file's requests
    } cases[] = {
        {"validator still matches", big.size() * 4 / 10, "\"v1\"", {"bytes=1258291-"}},
        {"validator changed", big.size() * 4 / 10, "\"v0\"", {"bytes=1258291-"}},
        {"note with the size", big.size() * 4 / 10, "\"v1\"\n" + strSize, {"bytes=1258291-"}},
        {"whole part, older note: 416", big.size(), "\"v1\"", {"bytes=" + strSize + "-", ""}},
        {"whole part by its note", big.size(), "\"v1\"\n" + strSize, {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        DeleteFileA((m_strProgramDir + "big.pak").c_str());
        ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "big.pak.part", big.substr(0, c.nKept)));
        ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "big.pak.part.v", c.strNote));
        testsupport::ScriptedServer again;
        ASSERT_TRUE(again.Start());
        again.Script(ListPath(), Reply::Ok(ListOf({{"big.pak", big}})));
        again.Script(Release("big.pak"), Reply::Ranged(big));
        RecordingSession session;
        ASSERT_TRUE(RunOn(session, {again.Port()}));
        EXPECT_TRUE(ReadWholeFile(m_strProgramDir + "big.pak") == big);
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
        std::vector<std::string> ranges;
        std::string strIfRange;
        for (const auto& r : again.Requests()) {
            if (r.Path() != Release("big.pak")) continue;
            ranges.push_back(r.Header("Range"));
            if (ranges.size() == 1) strIfRange = r.Header("If-Range");
        }
        EXPECT_EQ(ranges, c.ranges);
        EXPECT_EQ(strIfRange, c.ranges[0].empty() ? "" : c.strNote.substr(0, c.strNote.find('\n')));
        EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "big.pak.part").c_str()));
        EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "big.pak.part.v").c_str()));
        again.Stop();
    }
}

// A small file system mounted for the test (scripts/smallfs.sh): 2 MB.
TEST_F(HostileTest, AFullDiskLeavesEveryInstalledFileAndSaysSo) {
    std::string dir = WinePathFromEnv("SELFRENEW_SMALLFS");
    ULARGE_INTEGER nFree = {};
    if (!GetDiskFreeSpaceExA(dir.c_str(), &nFree, nullptr, nullptr) || nFree.QuadPart > 4u * 1024 * 1024)
        GTEST_SKIP() << "no small file system mounted at " << dir;
    const std::string one = Body(1200 * 1024, 11), two = Body(1200 * 1024, 12);
    ASSERT_TRUE(WriteWholeFile(dir + "one.pak", "old one"));
    ASSERT_TRUE(WriteWholeFile(dir + "two.pak", "old two"));
    testsupport::ScriptedServer server;
    ASSERT_TRUE(server.Start());
    // The small file first and alone; then the two large ones side by side.
    server.Script(ListPath(), Reply::Ok(ListOf({{"small.dll", "s"}, {"one.pak", one}, {"two.pak", two}})));
    server.Script(Release("one.pak"), Reply::Ok(one));
    server.Script(Release("two.pak"), Reply::Ok(two));
    server.Script(Release("small.dll"), Reply::Ok("s"));
    // The run writes where the program folder is: here, the small disk.
    SetCurrentDirectoryA(dir.c_str());
    RecordingSession session;
    bool bEnded = RunOn(session, {server.Port()}, 60000, 2);
    SetCurrentDirectoryA(m_strProgramDir.c_str());
    ASSERT_TRUE(bEnded);
    std::string strOne = ReadWholeFile(dir + "one.pak"), strTwo = ReadWholeFile(dir + "two.pak");
    EXPECT_TRUE(strOne == "old one" || strOne == one);
    EXPECT_TRUE(strTwo == "old two" || strTwo == two);
    EXPECT_TRUE(strOne != one || strTwo != two) << "both can't fit";
    EXPECT_EQ(ReadWholeFile(dir + "small.dll"), "s");
    EXPECT_EQ(session.GetStatus(), TEXT_DISK_FULL);
    for (const std::string& name : ListFolder(dir))
        EXPECT_EQ(name.find(".part"), std::string::npos) << "left behind: " << name;
    server.Stop();
}

}  // namespace

namespace {

std::string IndexOf(const std::string& strBody) {
    net::BlockIndexBuilder builder(strBody.size());
    builder.Update(strBody.data(), strBody.size());
    unsigned char sha[32] = {};
    return builder.Finish(sha);
}

// An index of a file of nSize bytes whose blocks all share weak checksum 0,
// distinct (bDistinct) or all alike.
std::string CraftedIndex(uint64_t nSize, bool bDistinct) {
    net::BlockIndex index;
    index.nFileSize = nSize;
    index.nBlockSize = net::BlockSizeFor(nSize);
    size_t nBlocks = nSize == UINT64_MAX ? 0 : static_cast<size_t>(net::BlockCountFor(nSize, index.nBlockSize));
    index.weak.assign(nBlocks, 0);
    index.strong.resize(nBlocks);
    for (size_t i = 0; i < nBlocks; ++i) index.strong[i] = bDistinct ? i : 0;
    return net::FormatBlockIndex(index);
}

// The most this process's committed memory rose above where it stood at
// the start, sampled while the sampler lives.
class MemoryPeak {
public:
    MemoryPeak() : m_nBase(Committed()), m_thread([this] {
        while (!m_bStop) {
            size_t n = Committed();
            if (n > m_nPeak) m_nPeak = n;
            Sleep(10);
        }
    }) {}
    ~MemoryPeak() { Stop(); }
    size_t Rise() {
        Stop();
        return m_nPeak > m_nBase ? m_nPeak - m_nBase : 0;
    }

private:
    static size_t Committed() {
        PROCESS_MEMORY_COUNTERS counters = {};
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        return counters.PagefileUsage;
    }
    void Stop() {
        m_bStop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    size_t m_nBase;
    std::atomic<size_t> m_nPeak{0};
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// What one row sets up: the servers in the run's order, the files the run
// must leave, and what else to check once it has ended.
struct Scene {
    testsupport::ScriptedServer server;
    std::vector<unsigned short> ports;
    std::vector<std::pair<std::string, std::string>> files;
    int nConnections = 4;
    std::function<void(DWORD nMs)> check = [](DWORD) {};
};

// Every row ends with each file installed whole and no "disk full", within
// a few seconds where the flaw made it minutes (or a full disk, or GBs).
TEST_F(HostileTest, CostlyReleasesAndServersEndInBoundedTimeWithTheFileInstalled) {
    const std::string fresh = Body(2 * 1024 * 1024, 5), old = Body(1536 * 1024, 6);
    std::string changed = fresh;
    changed.replace(100000, 4096, Body(4096, 7));
    const std::string random = Body(8 * 1024 * 1024, 8);
    // Spaces and zeros: equal weak checksums for 4 KiB windows.
    const std::string padNew = std::string(8 * 1024 * 1024, '\0') + random;
    const std::string padOld = std::string(8 * 1024 * 1024, ' ') + random;
    // The file's own server: its list, its index and its replies.
    auto serve = [this](Scene& s, const std::string& strIndex, std::vector<Reply> replies) {
        ASSERT_TRUE(s.server.Start());
        s.ports.push_back(s.server.Port());
        s.server.Script(ListPath(), Reply::Ok(ListOf(s.files)));
        for (const auto& f : s.files) {
            s.server.Script("/kroupdate/" + m_strProduct + "/blocks/" + f.first, Reply::Ok(strIndex));
            s.server.Script(Release(f.first), replies);
        }
    };
    // The release on nginx, with its index; the bytes nginx serves of it are
    // those logged from here on.
    auto publish = [this](Scene& s, const std::string& strNew, std::function<void(uint64_t)> onServed) {
        ASSERT_TRUE(PublishRelease(m_strProduct, {{"big.pak", strNew}}));
        CreateDirectoryA(SiteProductFilePath(m_strProduct, "blocks").c_str(), nullptr);
        ASSERT_TRUE(WriteWholeFile(SiteProductFilePath(m_strProduct, "blocks\\big.pak"), IndexOf(strNew)));
        s.files = {{"big.pak", strNew}};
        size_t nLogged = NginxRequests().size();
        s.check = [nLogged, onServed](DWORD) {
            uint64_t nServed = 0;
            for (const auto& r : NginxRequestsAfter(nLogged, 2))
                if (r.strPath.find("/release/big.pak") != std::string::npos) nServed += r.nBytes;
            onServed(nServed);
        };
    };
    auto installed = [this](const std::string& strName, const std::string& strBytes) {
        ASSERT_TRUE(WriteWholeFile(m_strProgramDir + strName, strBytes));
    };
    struct Case {
        const char* pszName;
        DWORD nStallMs, nAtMostMs;
        std::function<void(Scene&)> prepare;
    } cases[] = {
        {"old spaces against new zeros: equal blocks, one weak checksum", 30000, 8000, [&](Scene& s) {
             installed("big.pak", padOld);
             publish(s, padNew, [&](uint64_t n) { EXPECT_LT(n, padNew.size()) << "the delta did its part"; });
             s.ports = {NginxPort()};
         }},
        {"a part's header lines that never end", 30000, 10000, [&](Scene& s) {
             installed("big.pak", changed);
             s.files = {{"big.pak", fresh}};
             serve(s, IndexOf(fresh), {Reply::EndlessPartHeaders(), Reply::Ok(fresh)});
             s.check = [&s](DWORD) { EXPECT_LT(s.server.BytesSent(), 64u << 20); };
         }},
        {"an index claiming 2^64 - 1 bytes", 30000, 8000, [&](Scene& s) {
             installed("big.pak", old);
             s.files = {{"big.pak", fresh}};
             serve(s, CraftedIndex(UINT64_MAX, false), {Reply::Ok(fresh)});
         }},
        {"a consistent index claiming 1 TiB", 30000, 8000, [&](Scene& s) {
             installed("big.pak", old);
             s.files = {{"big.pak", fresh}};
             serve(s, CraftedIndex(1ull << 40, false), {Reply::Ok(fresh)});
         }},
        {"a consistent index claiming 512 GiB", 30000, 8000, [&](Scene& s) {
             installed("big.pak", old);
             s.files = {{"big.pak", fresh}};
             serve(s, CraftedIndex(1ull << 39, false), {Reply::Ok(fresh)});
         }},
        {"5,000 bytes, then silence: each try ends at the stall limit", 2000, 10000, [&](Scene& s) {
             const std::string body = Body(200 * 1024, 9);
             s.files = {{"quiet.dat", body}};
             serve(s, std::string(), {Reply::StallAfter(body, 5000, 20000), Reply::Ok(body)});
             s.check = [&s, this](DWORD) {
                 std::vector<testsupport::ServedRequest> log = s.server.Requests();
                 std::vector<testsupport::ServedRequest> tries;
                 for (const auto& r : log)
                     if (r.Path() == Release("quiet.dat")) tries.push_back(r);
                 ASSERT_EQ(tries.size(), 2u);
                 auto nGap = std::chrono::duration_cast<std::chrono::milliseconds>(tries[1].at - tries[0].at).count();
                 EXPECT_GE(nGap, 2000) << "the limit, then the first retry's pause of 0.5 s";
                 EXPECT_LE(nGap, 3300);
             };
         }},
        {"release/ black-holed on the first mirror: the second's delta", 1000, 20000, [&](Scene& s) {
             installed("big.pak", changed);
             publish(s, fresh, [&](uint64_t n) { EXPECT_LT(n, fresh.size() / 2) << "the second mirror's delta"; });
             ASSERT_TRUE(s.server.Start());
             s.server.Script(ListPath(), Reply::Ok(ReadWholeFile(SiteProductFilePath(m_strProduct, "filelist.list"))));
             s.server.Script("/kroupdate/" + m_strProduct + "/blocks/big.pak", Reply::Ok(IndexOf(fresh)));
             s.server.Script(Release("big.pak"), Reply::BlackHole());
             s.ports = {s.server.Port(), NginxPort()};
         }},
        // The server sends the bytes of an index it doesn't keep, so that what
        // the process holds is the client's alone.
        {"16 transfers, each offered a block index of 12 MiB", 30000, 20000, [&](Scene& s) {
             for (int i = 0; i < 16; ++i) {
                 std::string strName = "h" + std::to_string(i) + ".pak";
                 installed(strName, Body(1100 * 1024, 20 + i));
                 s.files.push_back({strName, Body(1200 * 1024, 40 + i)});
             }
             ASSERT_TRUE(s.server.Start());
             s.ports = {s.server.Port()};
             s.server.Script(ListPath(), Reply::Ok(ListOf(s.files)));
             for (const auto& f : s.files) {
                 s.server.Script("/kroupdate/" + m_strProduct + "/blocks/" + f.first, Reply::Endless(12u << 20));
                 s.server.Script(Release(f.first), Reply::Ok(f.second));
             }
             s.nConnections = 16;
             auto pPeak = std::make_shared<MemoryPeak>();
             s.check = [pPeak](DWORD) {
                 // 16 slots' threads, buffers and the server's replies take some
                 // 80 MB; reading every index at once took 240 MB.
                 EXPECT_LE(pPeak->Rise(), net::DELTA_MEMORY_BUDGET + (64u << 20));
             };
         }},
        {"a killed run's part of a file the release dropped", 30000, 8000, [&](Scene& s) {
             installed("gone.dat.part", Body(3000, 10));
             installed("gone.dat.part.v", "\"v1\"\n9000000");
             installed("mine.part.txt", "not ours");
             s.files = {{"kept.dll", "kept"}};
             serve(s, std::string(), {Reply::Ok("kept")});
             s.check = [this](DWORD) {
                 EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "gone.dat.part").c_str()));
                 EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "gone.dat.part.v").c_str()));
                 EXPECT_EQ(ReadWholeFile(m_strProgramDir + "mine.part.txt"), "not ours");
             };
         }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_strProduct = std::string("costly") + std::to_string(&c - cases);
        CleanProgramFolder();
        Scene scene;
        c.prepare(scene);
        RecordingSession session;
        session.settings.nStallLimitMs = c.nStallMs;
        DWORD start = GetTickCount();
        ASSERT_TRUE(RunOn(session, scene.ports, 90000, scene.nConnections));
        DWORD nMs = GetTickCount() - start;
        EXPECT_LE(nMs, c.nAtMostMs);
        for (const auto& f : scene.files) EXPECT_TRUE(ReadWholeFile(m_strProgramDir + f.first) == f.second) << f.first;
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
        for (const std::string& name : ListFolder(m_strProgramDir))
            EXPECT_EQ(name.find(".part"), name.find(".part.txt")) << "left behind: " << name;
        scene.check(nMs);
        scene.server.Stop();
    }
}

// A cache in front of the server that holds old bytes under a file's address.
// The list is asked with no-cache, the file at its encoded, versioned address,
// and once its body failed the check, at an address no cache has seen.
TEST_F(HostileTest, ACachedWrongBodyIsNeverAskedForAtTheSameAddressAgain) {
    const std::string good = Body(3000), name = "\xD6\xD0\xCE\xC4.dll";
    char szVersion[16];
    snprintf(szVersion, sizeof szVersion, "?v=%08x", static_cast<unsigned>(ListedCrc(good)));
    const std::string target = "/kroupdate/" + m_strProduct + "/release/%D6%D0%CE%C4.dll" + szVersion;
    testsupport::ScriptedServer server;
    ASSERT_TRUE(server.Start());
    server.Script(ListPath(), Reply::Ok(ListOf({{name, good}})));
    server.Script(target, Reply::Ok("stale"));
    server.Script(Release(name), Reply::Ok(good));
    RecordingSession session;
    ASSERT_TRUE(RunOn(session, {server.Port()}));
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + name), good);
    std::vector<testsupport::ServedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("Cache-Control"), "no-cache");
    EXPECT_EQ(requests[1].Target(), target);
    EXPECT_EQ(requests[1].Header("Cache-Control"), "") << "a versioned file may come from any cache";
    EXPECT_EQ(requests[2].Target().compare(0, target.size() + 3, target + "&r="), 0) << requests[2].Target();
}

}  // namespace
