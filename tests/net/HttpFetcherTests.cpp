// The fetcher against the scripted loopback server: what reaches the wire,
// what reaches the disk, and the events and counters the window relies on.
#include "FetcherFixture.h"

#include <mmsystem.h>

#include "update/ProgressModel.h"

namespace fetchertest {
namespace {

TEST_F(FetcherTest, BackslashesAreSentAsSlashes) {
    server.Script("/kroupdate/hall/release/a/b/c.dll", Reply::Ok("abc"));
    std::string local = Local("c.dll");

    ASSERT_TRUE(Fetch("/kroupdate/hall/release/a\\b\\c.dll", local));
    ASSERT_EQ(1u, server.RequestLines().size());
    // HTTP/1.1, so that the connection stays for the slot's next file.
    EXPECT_EQ("GET /kroupdate/hall/release/a/b/c.dll HTTP/1.1", server.RequestLines()[0]);
    EXPECT_EQ("abc", ReadAll(local));
    std::vector<std::pair<int, std::string>> expected = {{FETCH_BEGIN, local}, {FETCH_END, local}};
    EXPECT_EQ(expected, fetcher.status);
}

TEST_F(FetcherTest, RejectedResponsesLeaveTheDiskAlone) {
    struct Case { const char* name; Reply reply; };
    const Case cases[] = {
        {"404", Reply::Status(404)},
        {"500", Reply::Status(500)},
        {"chunked, no Content-Length", Reply::Chunked("a body without a length")},
    };
    for (const Case& c : cases) {
        for (bool bExisting : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (bExisting ? ", existing file" : ", no file"));
            EmptyFolder();
            fetcher.Forget();
            server.Script("/f", c.reply);
            std::string local = Local("target.bin");
            if (bExisting) WriteAll(local, "installed");

            EXPECT_FALSE(Fetch("/f", local));
            ASSERT_FALSE(fetcher.status.empty());
            EXPECT_EQ(FETCH_BEGIN, fetcher.status.front().first);
            EXPECT_EQ(local, fetcher.status.front().second);
            EXPECT_FALSE(fetcher.Saw(FETCH_END));
            std::vector<std::string> left = bExisting ? std::vector<std::string>{"target.bin"}
                                                      : std::vector<std::string>{};
            EXPECT_EQ(left, FolderFiles());
            if (bExisting) {
                EXPECT_EQ("installed", ReadAll(local));
            }
        }
    }
}

TEST_F(FetcherTest, EmptyBodyGivesAnEmptyFileOneReportAndEnd) {
    for (bool bExisting : {false, true}) {
        SCOPED_TRACE(bExisting ? "over an existing file" : "new file");
        fetcher.Forget();
        server.Script("/empty", Reply::Ok(""));
        std::string local = Local("empty.txt");
        if (bExisting) WriteAll(local, "old contents");

        ASSERT_TRUE(Fetch("/empty", local));
        EXPECT_TRUE(FileExists(local));
        EXPECT_EQ("", ReadAll(local));
        std::vector<std::pair<int, int>> expected = {{FETCH_PROGRESS, 10000}};
        EXPECT_EQ(expected, fetcher.progress);
        EXPECT_TRUE(fetcher.Saw(FETCH_END));
        EXPECT_EQ(0u, fetcher.nFileSize);
    }
}

TEST_F(FetcherTest, MillionBytesArriveExactlyAndEndAtFullProgress) {
    const std::string body = PatternBody(1000000);
    server.Script("/big.bin", Reply::Ok(body));
    std::string local = Local("big.bin");
    WriteAll(local, "an older, shorter copy");

    ProgressModel model;
    model.StartRun();
    model.SetSlots(1);
    fetcher.pAlso = &model.SlotEvents(0);
    DWORD dwStart = timeGetTime();
    ASSERT_TRUE(Fetch("/big.bin", local));
    DWORD dwElapsed = timeGetTime() - dwStart;

    EXPECT_TRUE(ReadAll(local) == body) << "the bytes on disk differ from the body sent";
    ASSERT_FALSE(fetcher.progress.empty());
    EXPECT_EQ(10000, fetcher.progress.back().second);
    for (size_t i = 0; i < fetcher.progress.size(); ++i) {
        EXPECT_EQ(FETCH_PROGRESS, fetcher.progress[i].first) << "report " << i;
        if (i > 0) {
            EXPECT_LE(fetcher.progress[i - 1].second, fetcher.progress[i].second) << "report " << i;
        }
    }
    EXPECT_EQ(1000000u, fetcher.nFileSize);
    EXPECT_EQ(1000000u, fetcher.nReceived);
    // The first speed window closes after 3 s; a shorter transfer shows none.
    if (dwElapsed < 3000) {
        EXPECT_EQ(0u, model.Snapshot().nSpeed);
    }
    EXPECT_EQ(std::vector<std::string>{"big.bin"}, FolderFiles());
}

TEST_F(FetcherTest, DrippedBodyReportsStepsOnTheWayAndASpeed) {
    // About 3.6 s of dripping: the first speed window closes on the way.
    const std::string body = PatternBody(36 * 1000);
    server.Script("/slow.bin", Reply::Drip(body, 1000, 100));
    std::string local = Local("slow.bin");
    ProgressModel model;
    model.StartRun();
    model.SetSlots(1);
    fetcher.pAlso = &model.SlotEvents(0);

    ASSERT_TRUE(Fetch("/slow.bin", local));
    EXPECT_TRUE(ReadAll(local) == body);
    EXPECT_GT(model.Snapshot().nSpeed, 0u);
    ASSERT_GE(fetcher.progress.size(), 3u) << "expected reports while the body dripped";
    EXPECT_LT(fetcher.progress.front().second, 10000);
    EXPECT_EQ(10000, fetcher.progress.back().second);
}

TEST_F(FetcherTest, CutBodyFailsAndKeepsTheOldFile) {
    const std::string body = PatternBody(200000);
    struct Case { const char* name; size_t sent; bool existing; };
    const Case cases[] = {
        {"cut in half, existing file", 100000, true},
        {"cut in half, no file", 100000, false},
        {"cut before the body", 0, true},
        {"one byte short", 199999, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmptyFolder();
        fetcher.Forget();
        server.Script("/cut.bin", Reply::Cut(body, c.sent));
        std::string local = Local("cut.bin");
        if (c.existing) WriteAll(local, "installed copy");

        EXPECT_FALSE(Fetch("/cut.bin", local));
        EXPECT_FALSE(fetcher.Saw(FETCH_END));
        std::vector<std::string> left = c.existing ? std::vector<std::string>{"cut.bin"}
                                                   : std::vector<std::string>{};
        EXPECT_EQ(left, FolderFiles()) << "the target is untouched and no temporary file is left";
        if (c.existing) {
            EXPECT_EQ("installed copy", ReadAll(local));
        }
    }
}

TEST_F(FetcherTest, StaleTemporaryFileDoesNoHarm) {
    const std::string body = PatternBody(5000);
    server.Script("/f.dll", Reply::Ok(body));
    std::string local = Local("f.dll");
    std::string stale = local + ".part";
    WriteAll(stale, PatternBody(9000));
    SetFileAttributesA(stale.c_str(), FILE_ATTRIBUTE_READONLY);

    ASSERT_TRUE(Fetch("/f.dll", local));
    EXPECT_TRUE(ReadAll(local) == body);
    EXPECT_EQ(std::vector<std::string>{"f.dll"}, FolderFiles());
}

TEST_F(FetcherTest, MissingFolderInTheLocalPathFails) {
    server.Script("/f", Reply::Ok("data"));
    std::string local = Local("no such folder\\f.txt");

    EXPECT_FALSE(Fetch("/f", local));
    EXPECT_TRUE(fetcher.Saw(FETCH_BEGIN));
    EXPECT_FALSE(fetcher.Saw(FETCH_END));
    EXPECT_FALSE(FileExists(Local("no such folder")));
    EXPECT_TRUE(FolderFiles().empty());
}

TEST_F(FetcherTest, RedirectIsFollowed) {
    server.Script("/old/list", Reply::Redirect("/new/list"));
    server.Script("/new/list", Reply::Ok("moved list"));
    std::string local = Local("files.ini");

    ASSERT_TRUE(Fetch("/old/list", local));
    EXPECT_EQ("moved list", ReadAll(local));
    std::vector<std::string> lines = server.RequestLines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[0].find("GET /old/list "));
    EXPECT_EQ(0u, lines[1].find("GET /new/list "));
}

}  // namespace
}  // namespace fetchertest

namespace fetchertest {
namespace {

TEST(PartFile, TemporaryNameFitsWhereverTheTargetFits) {
    const std::string folder(240, 'd');
    const struct { std::string target; bool suffixed; } cases[] = {
        {"a.dll", true},
        {folder + "\\" + std::string(12, 'n') + ".dll", true},   // 257 + ".part" > 259
        {folder + "\\" + std::string(10, 'n') + ".dll", true},
        {folder + "\\x.b", true},
        {folder + "\\" + std::string(14, 'n') + ".dll", false},
        {std::string(250, 'n') + ".dll", false},
    };
    for (const auto& c : cases) {
        std::string temp = net::PartFile::TempPathFor(c.target);
        bool bSuffixed = temp == c.target + ".part";
        if (c.target.size() + 5 < MAX_PATH) {
            EXPECT_TRUE(bSuffixed) << c.target.size();
            continue;
        }
        EXPECT_LE(temp.size(), c.target.size()) << c.target.size();
        EXPECT_NE(temp, c.target);
        EXPECT_EQ(temp.substr(0, temp.rfind('\\') + 1), c.target.substr(0, c.target.rfind('\\') + 1));
        EXPECT_EQ(temp, net::PartFile::TempPathFor(c.target)) << "the same name every time, for a later resume";
    }
    EXPECT_FALSE(net::PartFile::HasRoomFor("a.dll", UINT64_MAX));
    EXPECT_TRUE(net::PartFile::HasRoomFor("a.dll", 1));
}

}  // namespace
}  // namespace fetchertest
