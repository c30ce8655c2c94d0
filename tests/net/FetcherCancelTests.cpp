// The fetcher when something gets in its way: a target held open by another
// process for a moment or for good, and a window that cancels the transfer.
#include "FetcherFixture.h"

#include <mmsystem.h>

#include <atomic>
#include <thread>

namespace fetchertest {
namespace {

// Holds a file open without sharing, as a starting process or a scanner does.
class FileHold {
public:
    explicit FileHold(const std::string& path)
        : m_file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    bool IsHeld() const { return m_file.IsValid(); }
    void Release() { m_file.Reset(); }

private:
    fw::UniqueHandle m_file;
};

TEST_F(FetcherTest, TargetHeldOpenBrieflyIsStillReplaced) {
    const std::string body = PatternBody(20000);
    server.Script("/selfrenew.exe", Reply::Ok(body));
    std::string local = Local("selfrenew.exe");
    WriteAll(local, "running copy");
    FileHold hold(local);
    ASSERT_TRUE(hold.IsHeld());
    std::atomic<bool> bReleased{false};
    std::thread release([&hold, &bReleased] {
        Sleep(300);
        hold.Release();
        bReleased = true;
    });

    bool bOk = Fetch("/selfrenew.exe", local);
    bool bWaitedForRelease = bReleased;
    release.join();
    ASSERT_TRUE(bOk);
    EXPECT_TRUE(bWaitedForRelease) << "a held target can't have been replaced before its release";
    EXPECT_TRUE(ReadAll(local) == body);
    EXPECT_TRUE(fetcher.Saw(FETCH_END));
    EXPECT_EQ(std::vector<std::string>{"selfrenew.exe"}, FolderFiles());
}

TEST_F(FetcherTest, TargetHeldForGoodFailsAndKeepsTheOldFile) {
    server.Script("/locked.dll", Reply::Ok(PatternBody(1000)));
    std::string local = Local("locked.dll");
    WriteAll(local, "in use");
    FileHold hold(local);
    ASSERT_TRUE(hold.IsHeld());

    EXPECT_FALSE(Fetch("/locked.dll", local));
    hold.Release();
    EXPECT_FALSE(fetcher.Saw(FETCH_END));
    EXPECT_EQ("in use", ReadAll(local));
    EXPECT_EQ(std::vector<std::string>{"locked.dll"}, FolderFiles());
}

// Cancels the fetcher from another thread, as the closing window does, after nDelayMs.
bool FetchAndCancel(FetcherTest& t, RecordingFetcher& f, const std::string& local, DWORD nDelayMs,
                    DWORD* pdwElapsed) {
    std::thread window([&f, nDelayMs] {
        Sleep(nDelayMs);
        f.CancelTransfer();
    });
    DWORD dwStart = timeGetTime();
    bool bOk = t.Fetch(f, "/game.dat", local);
    *pdwElapsed = timeGetTime() - dwStart;
    window.join();
    return bOk;
}

TEST_F(FetcherTest, CancelFailsTheTransferCleanlyAndSticks) {
    struct Case { const char* name; Reply reply; bool prompt; };
    const Case cases[] = {
        // 5 s of body: the cancel is seen between two pieces.
        {"dripping body", Reply::Drip(PatternBody(100000), 1000, 50), true},
        // The pending read only returns when the body comes; what comes is dropped.
        {"stall before the body", Reply::Stall(PatternBody(1000), 1500), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmptyFolder();
        server.Script("/game.dat", c.reply);
        std::string local = Local("game.dat");
        WriteAll(local, "installed");
        RecordingFetcher cancelled;

        DWORD dwElapsed = 0;
        EXPECT_FALSE(FetchAndCancel(*this, cancelled, local, 300, &dwElapsed));
        if (c.prompt) {
            EXPECT_LT(dwElapsed, 3000u) << "far below the time the whole body needs";
        }
        EXPECT_FALSE(cancelled.Saw(FETCH_END));
        EXPECT_EQ("installed", ReadAll(local));
        EXPECT_EQ(std::vector<std::string>{"game.dat"}, FolderFiles());

        // The window is going away: nothing more is fetched.
        server.Script("/other", Reply::Ok("x"));
        EXPECT_FALSE(Fetch(cancelled, "/other", Local("other")));
        EXPECT_FALSE(FileExists(Local("other")));
    }
}

}  // namespace
}  // namespace fetchertest
