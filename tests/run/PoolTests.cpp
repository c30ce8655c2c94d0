// The run's transfer slots against the tests' nginx: one slot is the
// sequential run to the event, eight install a nested release exactly and
// keep a failed entry to itself, the status line follows the file bar's
// transfer, and two spellings of one local file never travel at once.
#include "run/RunFixture.h"

#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "support/ScriptedServer.h"
#include "update/Checksum.h"

using namespace testing_support;

namespace {

std::vector<std::string> RequestPaths(const std::vector<LoggedRequest>& log) {
    std::vector<std::string> paths;
    for (const LoggedRequest& r : log) paths.push_back(r.strPath);
    return paths;
}

TEST_F(RunTest, OneSlotIsTheSequentialRunRequestForRequestAndEventForEvent) {
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"a.dll", "aa"}, {"d/", ""}, {"d/b.dat", "bbb"}, {"d/e/", ""},
                                              {"d/e/c.txt", "c"}}));
    size_t before = NginxRequests().size();
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, NginxPort(), 60000, 1));

    // What the sequential run does, entry by entry in the work list's order.
    const std::string list = "UpdateINI/" + m_strProduct + "/files.ini";
    std::vector<StatusEvent> expected = {{STATUS_MESSAGE, TEXT_CONNECTING, 0}, {STATUS_DOWNLOADING, list, 0},
                                         {STATUS_FINISHED, list, 0}, {STATUS_MESSAGE, TEXT_STARTING, 0}};
    std::vector<std::string> requests = {"/kroupdate/" + m_strProduct + "/filelist.list"};
    const int nCount = static_cast<int>(g_updateList.size());
    ASSERT_EQ(nCount, 5);
    int nDone = 0;
    for (const FileEntry& e : g_updateList) {
        if (e.m_nKind == ENTRY_FILE) {
            bool bRoot = e.m_strDir == "/";
            std::string local = bRoot ? e.m_strName : e.m_strDir + "\\" + e.m_strName;
            std::string url = bRoot ? e.m_strName : e.m_strDir + "/" + e.m_strName;
            std::replace(url.begin(), url.end(), '\\', '/');
            requests.push_back("/kroupdate/" + m_strProduct + "/release/" + url);
            // Small files: the only progress report is the last one, 10000.
            expected.push_back({STATUS_DOWNLOADING, local, nDone * 10000 / nCount});
            expected.push_back({STATUS_FINISHED, local, nDone * 10000 / nCount + 10000 / nCount});
        }
        ++nDone;
    }
    expected.push_back({STATUS_MESSAGE, TEXT_DONE, 10000});
    std::vector<StatusEvent> events = session.Events();
    ASSERT_EQ(events.size(), expected.size());
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].nKind, expected[i].nKind) << "event " << i;
        EXPECT_EQ(events[i].strText, expected[i].strText) << "event " << i;
        EXPECT_EQ(events[i].nTotalProgress, expected[i].nTotalProgress) << "event " << i << " " << events[i].strText;
        // The file bar starts each transfer empty and ends it full.
        if (events[i].nKind == STATUS_DOWNLOADING || events[i].nKind == STATUS_FINISHED) {
            EXPECT_EQ(events[i].nFileProgress, events[i].nKind == STATUS_DOWNLOADING ? 0 : 10000) << "event " << i;
        }
    }
    EXPECT_EQ(RequestPaths(NginxRequestsAfter(before, requests.size())), requests);
}

TEST_F(RunTest, EightSlotsInstallANestedReleaseExactlyAndKeepFailuresToTheirEntry) {
    ReleaseFiles release;
    for (int d = 0; d < 6; ++d) {
        std::string folder = "lvl" + std::to_string(d) + "/sub" + std::to_string(d) + "/";
        for (int f = 0; f < 8; ++f)
            release[folder + "f" + std::to_string(f) + ".dat"] = std::string(1000 + 997 * (d * 8 + f), char('a' + f));
    }
    release["empty/"] = "";
    release["lvl2/sub2/missing.dat"] = "gone from the server";
    release["lvl4/sub4/altered.dat"] = "as listed";
    ASSERT_TRUE(PublishRelease(m_strProduct, release));
    ASSERT_TRUE(DeleteFileA(SiteFilePath(m_strProduct, "lvl2/sub2/missing.dat").c_str()));
    ASSERT_TRUE(WriteWholeFile(SiteFilePath(m_strProduct, "lvl4/sub4/altered.dat"), "not as listed"));

    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, NginxPort(), 60000, 8));
    EXPECT_EQ(g_bRunResult, 1);
    EXPECT_EQ(session.GetStatus(), TEXT_FILE_FAILED);
    ProgressSnapshot snap = session.Snapshot();
    EXPECT_EQ(snap.nFileIndex, snap.nFileCount - 2) << "only the two failed entries are not counted";
    for (const auto& f : release) {
        std::string path = m_strProgramDir + f.first;
        std::replace(path.begin(), path.end(), '/', '\\');
        if (f.first.back() == '/') {
            EXPECT_TRUE(PathIsDirectoryA(path.c_str())) << f.first;
        } else if (f.first.find("missing") != std::string::npos || f.first.find("altered") != std::string::npos) {
            EXPECT_FALSE(PathFileExistsA(path.c_str())) << f.first;
        } else {
            EXPECT_EQ(FileChecksum(path.c_str(), -1), ChecksumUpdate(ChecksumStart(), f.second.data(), f.second.size()))
                << f.first;
        }
    }
    for (const std::string& name : ListFolder(m_strProgramDir + "lvl4\\sub4\\"))
        EXPECT_EQ(name.find(".part"), std::string::npos) << "left behind: " << name;
}

// Watches every repaint request: the status line and the file bar must tell
// of the same transfer.
class WatchedRunTest : public RunTest {
public:
    void OnAreaChanged(UpdateArea) override {
        const RecordingSession* pSession = m_pWatched;
        if (!pSession) return;
        ProgressSnapshot snap = pSession->Snapshot();
        if (snap.status.kind != STATUS_FINISHED || snap.nFileProgress == 10000) return;
        std::lock_guard<std::mutex> lock(m_lock);
        m_mismatches.push_back(snap.status.strText + " beside " + std::to_string(snap.nFileProgress));
    }

protected:
    std::atomic<const RecordingSession*> m_pWatched{nullptr};
    std::mutex m_lock;
    std::vector<std::string> m_mismatches;
};

TEST_F(WatchedRunTest, TheStatusLineFollowsTheTransferTheFileBarShows) {
    ReleaseFiles release;
    for (int f = 0; f < 40; ++f) release["f" + std::to_string(f) + ".dat"] = std::string(2000 + 3001 * f, char('a' + f % 26));
    ASSERT_TRUE(PublishRelease(m_strProduct, release));
    RecordingSession session;
    m_pWatched = &session;
    ASSERT_TRUE(RunAgainst(session, NginxPort(), 60000, 8));
    m_pWatched = nullptr;
    EXPECT_EQ(session.GetStatus(), TEXT_DONE);
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_mismatches.empty()) ADD_FAILURE() << m_mismatches.size() << " times, first: " << m_mismatches.front();
}

TEST_F(RunTest, TwoSpellingsOfOneLocalFileTakeTurnsAndTheLaterFindsItCurrent) {
    const std::string body(20000, 'x');
    const int nCrc = static_cast<int>(ChecksumUpdate(ChecksumStart(), body.data(), body.size()));
    char list[200];
    std::snprintf(list, sizeof(list), "/:d:0\r\nd:e:0\r\nd/e:x.dat:%d\r\nd\\E:X.dat:%d\r\nend\r\n", nCrc, nCrc);
    testsupport::ScriptedServer server;
    ASSERT_TRUE(server.Start());
    const std::string site = "/kroupdate/" + m_strProduct;
    server.Script(site + "/filelist.list", testsupport::Reply::Ok(list));
    for (const char* pszPath : {"/release/d/e/x.dat", "/release/d/E/X.dat"})
        server.Script(site + pszPath, testsupport::Reply::Drip(body, 2000, 50));  // half a second each
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, server.Port(), 60000, 4));
    EXPECT_EQ(session.GetStatus(), TEXT_DONE);
    EXPECT_EQ(session.Snapshot().nFileIndex, session.Snapshot().nFileCount);
    EXPECT_TRUE(ReadWholeFile(m_strProgramDir + "d\\e\\x.dat") == body);
    std::vector<std::string> lines = server.RequestLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find(".dat") != std::string::npos; }),
              1) << "the later spelling compares and fetches nothing";
    server.Stop();
}

}  // namespace
