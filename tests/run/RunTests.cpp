// Whole update runs against the tests' nginx on 127.0.0.1: fresh installs,
// runs with nothing to do, changed, damaged, missing and special files.
#include "run/RunFixture.h"

#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>

#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "support/ScriptedServer.h"
#include "update/MakeFolders.h"

using namespace testing_support;

namespace {

size_t CountRequests(const std::vector<LoggedRequest>& log, const std::string& strSuffix) {
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const LoggedRequest& r) {
        return r.strPath.size() >= strSuffix.size() &&
               r.strPath.compare(r.strPath.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0;
    }));
}

const ReleaseFiles kNested = {
    {"a.dll", "root file"},
    {"data/b.dat", std::string(70000, 'b')},
    {"data/maps/c.map", "deep file"},
    {"skin/main/bg.bmp", "picture"},
    {"empty.txt", ""},
};

TEST_F(RunTest, FreshInstallThenNothingToDoThenOnlyTheChangedFiles) {
    ASSERT_TRUE(PublishRelease(m_strProduct, kNested));
    size_t before = NginxRequests().size();
    {
        RecordingSession session;
        ASSERT_TRUE(RunAgainst(session, NginxPort()));
        EXPECT_EQ(g_bRunResult, 1);
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
        EXPECT_EQ(session.Snapshot().nFileIndex, session.Snapshot().nFileCount);
    }
    for (const auto& f : kNested) {
        std::string path = m_strProgramDir + f.first;
        std::replace(path.begin(), path.end(), '/', '\\');
        EXPECT_EQ(ReadWholeFile(path), f.second) << f.first;
    }
    // Every file and the list, each once.
    EXPECT_EQ(NginxRequestsAfter(before, kNested.size() + 1).size(), kNested.size() + 1);

    before = NginxRequests().size();
    g_updateList.clear();
    {
        RecordingSession session;
        ASSERT_TRUE(RunAgainst(session, NginxPort()));
        EXPECT_EQ(g_bRunResult, 1);
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
        EXPECT_TRUE(session.Texts(STATUS_DOWNLOADING).size() == 1) << "only the list is fetched";
    }
    std::vector<LoggedRequest> second = NginxRequestsAfter(before, 1);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].strPath, "/kroupdate/" + m_strProduct + "/filelist.list");

    ReleaseFiles changed = kNested;
    changed["a.dll"] = "root file, new";
    changed["data/maps/c.map"] = "deep file, new";
    ASSERT_TRUE(PublishRelease(m_strProduct, changed));
    before = NginxRequests().size();
    g_updateList.clear();
    {
        RecordingSession session;
        ASSERT_TRUE(RunAgainst(session, NginxPort()));
    }
    std::vector<LoggedRequest> third = NginxRequestsAfter(before, 3);
    ASSERT_EQ(third.size(), 3u);
    // The two files travel side by side: nginx logs them as they end.
    std::vector<std::string> files = {third[1].strPath, third[2].strPath};
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files[0], "/kroupdate/" + m_strProduct + "/release/a.dll");
    EXPECT_EQ(files[1], "/kroupdate/" + m_strProduct + "/release/data/maps/c.map");
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "data\\maps\\c.map"), "deep file, new");
}

TEST_F(RunTest, ServedBytesThatDifferFromTheListAreRequestedTwiceAndNeverInstalled) {
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"good.dll", "good"}, {"bad.dll", "as listed"}}));
    ASSERT_TRUE(WriteWholeFile(SiteFilePath(m_strProduct, "bad.dll"), "something else"));
    size_t before = NginxRequests().size();
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, NginxPort()));
    std::vector<LoggedRequest> log = NginxRequestsAfter(before, 4);
    EXPECT_EQ(CountRequests(log, "/bad.dll"), 2u);
    EXPECT_EQ(CountRequests(log, "/good.dll"), 1u);
    EXPECT_EQ(g_bRunResult, 1);
    EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "bad.dll").c_str()));
    EXPECT_EQ(session.GetStatus(), TEXT_FILE_FAILED) << "the failure still shows at the end";
}

TEST_F(RunTest, SelfUpdateIsNotedAndSkippedEntriesAreNeverRequested) {
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"SelfRenew.EXE", "new updater"},
                                              {"winmm.dll", "never"},
                                              {"UpdateINI/x.ini", "never"},
                                              {"z.dll", "last"}}));
    size_t before = NginxRequests().size();
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, NginxPort()));
    std::vector<LoggedRequest> log = NginxRequestsAfter(before, 3);
    EXPECT_EQ(g_bSelfUpdated, 1);
    EXPECT_EQ(CountRequests(log, "/SelfRenew.EXE"), 1u);
    EXPECT_EQ(CountRequests(log, "/winmm.dll"), 0u);
    EXPECT_EQ(CountRequests(log, "/x.ini"), 0u);
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "z.dll"), "last");
    // Skipped entries are not counted: the bar ends short until the run's end fills it.
    EXPECT_LT(session.Snapshot().nFileIndex, session.Snapshot().nFileCount);
    EXPECT_EQ(session.Snapshot().nTotalProgress, 10000);
}

TEST_F(RunTest, AMissingFileShowsTheFileMessageAndTheRunGoesOn) {
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"gone.dll", "x"}, {"kept.dll", "kept"}}));
    ASSERT_TRUE(DeleteFileA(SiteFilePath(m_strProduct, "gone.dll").c_str()));
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, NginxPort()));
    std::vector<std::string> texts = session.Texts(STATUS_MESSAGE);
    EXPECT_NE(std::find(texts.begin(), texts.end(), TEXT_FILE_FAILED), texts.end());
    EXPECT_EQ(texts.back(), TEXT_FILE_FAILED) << "a failed entry is not hidden by the end";
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "kept.dll"), "kept");
    EXPECT_EQ(g_bRunResult, 1);
    EXPECT_EQ(session.Snapshot().nFileIndex, 1);
    EXPECT_EQ(session.Snapshot().nFileCount, 2);
    EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "gone.dll").c_str()));
}

TEST_F(RunTest, NoServerListeningShowsTheListMessageAndClosesAfterItsPause) {
    RecordingSession session;
    // A port that was free a moment ago: nothing listens there.
    ASSERT_TRUE(RunAgainst(session, 9));
    EXPECT_EQ(g_bRunResult, 0);
    std::vector<std::string> texts = session.Texts(STATUS_MESSAGE);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), TEXT_LIST_FAILED);
    EXPECT_GE(m_nClosedAfterMs, 1900u) << "the message stands for two seconds";
    EXPECT_EQ(session.Snapshot().nTotalProgress, 10000);
}

TEST_F(RunTest, ARunWithoutATransferWorkerSaysSoAndClosesAfterItsPause) {
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"a.dll", "a"}}));
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, NginxPort(), 60000, 0));  // no slot: not one worker starts
    EXPECT_EQ(g_bRunResult, 0);
    EXPECT_EQ(session.GetStatus(), TEXT_INIT_FAILED);
    EXPECT_GE(m_nClosedAfterMs, 1900u) << "the message stands for two seconds";
}

TEST_F(RunTest, ARunEndedByAThrowLetsGoOfItsConnectionsAndTheNextRunInstalls) {
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"a.dll", "after the throw"}}));
    struct ThrowingSession : RecordingSession {
        std::atomic<bool> bThrown{false};
        void OnStatusEvent(const RunStatus& status) override {
            if (status.kind == STATUS_MESSAGE && status.strText == TEXT_STARTING && !bThrown.exchange(true))
                throw std::runtime_error("thrown in the middle of a run");
            RecordingSession::OnStatusEvent(status);
        }
    } session;
    ASSERT_TRUE(RunAgainst(session, NginxPort()));
    EXPECT_EQ(g_bRunResult, 0);
    EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "a.dll").c_str()));
    g_updateList.clear();
    ASSERT_TRUE(RunAgainst(session, NginxPort()));
    EXPECT_EQ(g_bRunResult, 1);
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "a.dll"), "after the throw");
}

TEST_F(RunTest, TotalProgressStepsWithEachEntry) {
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"1.dll", "1"}, {"2.dll", "2"}, {"3.dll", "3"}, {"4.dll", "4"}}));
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, NginxPort(), 60000, 1));
    std::vector<int> atBegin;
    for (const StatusEvent& e : session.Events())
        if (e.nKind == STATUS_DOWNLOADING) atBegin.push_back(e.nTotalProgress);
    // The list's own transfer first (the run set the total to 0), then each file.
    EXPECT_EQ(atBegin, (std::vector<int>{0, 0, 2500, 5000, 7500}));
}

TEST_F(RunTest, ServerChoiceFromUpdateIniStartsTheRunOnTheCutPort) {
    ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "update.ini", "\xEF\xBB\xBF" "1;1;east;127.0.0.1;70000;3\r\n"));
    UpdateSettings settings;
    ReadUpdateIni(settings);
    ASSERT_EQ(settings.rows.size(), 1u);
    EXPECT_FALSE(ChooseServers(settings, 2));
    EXPECT_TRUE(settings.servers.empty());
    ASSERT_TRUE(ChooseServers(settings, 1));
    ASSERT_EQ(settings.servers.size(), 1u);
    EXPECT_EQ(settings.servers[0].strHost, "127.0.0.1");
    EXPECT_EQ(settings.servers[0].nPort, 4464);
    EXPECT_EQ(settings.servers[0].nConnections, 3);
}

TEST_F(RunTest, NoUsableServerRowEndsLikeAServerThatCantBeReached) {
    for (const char* pszIni : {"", "\x01\x02binary\xFF", "# only a comment\r\n1;2;other key;h;80\r\n"}) {
        ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "update.ini", pszIni));
        RecordingSession session;
        session.settings.strProduct = m_strProduct;
        session.SetListener(this);
        ReadUpdateIni(session.settings);
        EXPECT_FALSE(ChooseServers(session.settings, 1));
        session.Start();
        DWORD start = GetTickCount();
        ASSERT_TRUE(WaitForRunEnd(10000)) << "the window is closed, so the game hall gets control back";
        EXPECT_GE(GetTickCount() - start, 1900u);
        EXPECT_EQ(session.GetStatus(), TEXT_LIST_FAILED);
        EXPECT_EQ(g_bRunResult, 0);
    }
    DeleteFileA((m_strProgramDir + "update.ini").c_str());
}

TEST(MakeDirectoryPath, CreatesEveryFolderAlongThePath) {
    std::string dir = FreshDir("mkdir");
    SetCurrentDirectoryA(dir.c_str());
    MakeDirectoryPath("data/sub\\deeper");
    EXPECT_TRUE(PathIsDirectoryA((dir + "data\\sub\\deeper").c_str()));
    // A GBK character whose trail byte is "\" stays one name.
    MakeDirectoryPath("\x95\x5C" "x");
    EXPECT_TRUE(PathIsDirectoryA((dir + "\x95\x5C" "x").c_str()));
    EXPECT_EQ(ListFolder(dir).size(), 2u) << "only data and the one GBK-named folder";
}

}  // namespace

namespace {

TEST_F(RunTest, EndingTheSessionMidTransferIsPromptAndLeavesTheOldFile) {
    std::string body(400000, 'n');
    testsupport::ScriptedServer server;
    ASSERT_TRUE(server.Start());
    ScriptSlowRelease(server, m_strProduct, "big.dll", body);  // 40 s if left to finish
    ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "big.dll", "old and whole"));

    auto session = std::make_unique<RecordingSession>();
    session->settings.strProduct = m_strProduct;
    session->StartOn("127.0.0.1", server.Port());
    ASSERT_TRUE(WaitUntil([&] { return session->Texts(STATUS_DOWNLOADING).size() == 2; }, 10000));
    Sleep(500);
    DWORD start = GetTickCount();
    session.reset();
    DWORD nEndMs = GetTickCount() - start;
    EXPECT_LT(nEndMs, 5000u);
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "big.dll"), "old and whole");
    std::vector<std::string> names = ListFolder(m_strProgramDir);
    for (const std::string& name : names)
        EXPECT_TRUE(lstrcmpiA(name.c_str(), "big.dll") == 0 || lstrcmpiA(name.c_str(), "UpdateINI") == 0 ||
                    name.find(".exe") != std::string::npos)
            << "left behind: " << name;
    server.Stop();
}

}  // namespace

namespace {

TEST_F(RunTest, ANewRunReplacesOneStillGoingAndFetchesAgain) {
    testsupport::ScriptedServer slow;
    ASSERT_TRUE(slow.Start());
    ScriptSlowRelease(slow, m_strProduct, "slow.dll", std::string(400000, 's'));
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"quick.dll", "quick"}}));

    RecordingSession session;
    session.settings.strProduct = m_strProduct;
    session.StartOn("127.0.0.1", slow.Port());
    ASSERT_TRUE(WaitUntil([&] { return session.Texts(STATUS_DOWNLOADING).size() == 2; }, 10000));
    // The new run's list follows the old one's; the slow file is not on nginx.
    ASSERT_TRUE(RunAgainst(session, NginxPort()));
    EXPECT_EQ(g_bRunResult, 1);
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "quick.dll"), "quick");
    EXPECT_FALSE(PathFileExistsA((m_strProgramDir + "slow.dll").c_str()));
    slow.Stop();
}

}  // namespace
