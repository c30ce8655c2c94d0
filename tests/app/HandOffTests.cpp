// Ending, starting and handing back to real processes under Wine, with the
// stand-in game hall as the process on the other side.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/Processes.h"
#include "app/HandOff.h"
#include "update/RunResult.h"

using namespace testing_support;

namespace {

// Bounds, not expected times: a started process logs within a second or two,
// but Wine on a machine busy with other builds has taken over ten.
const DWORD kWaitMs = 30000;

class HandOffTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Tests move into their scratch folder; each must start where the
        // program started, or the folders nest deeper with every test.
        GetCurrentDirectoryA(MAX_PATH, m_szStartDir);
        m_dir = FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        m_hall = TestBinDir() + "GameHollo.exe";
        g_bSelfUpdated = 0;
        g_bRunResult = 0;
    }
    void TearDown() override {
        SetCurrentDirectoryA(m_szStartDir);
        g_bSelfUpdated = 0;
        g_bRunResult = 0;
    }
    // The stand-in copied into the scratch folder under another name.
    std::string CopyOfHall(const std::string& strName) {
        std::string path = m_dir + strName;
        EXPECT_TRUE(CopyFileA(m_hall.c_str(), path.c_str(), FALSE)) << path;
        return path;
    }
    std::string Log() { return ReadWholeFile(m_dir + "gamehollo.log"); }

    char m_szStartDir[MAX_PATH] = {};
    std::string m_dir;
    std::string m_hall;
};

TEST_F(HandOffTest, StopRunningCopyEndsOnlyTheExactPath) {
    std::string copy = CopyOfHall("Selfrenew.kro");
    ChildProcess running;
    ASSERT_TRUE(running.Start("\"" + copy + "\" sleep", m_dir));
    ASSERT_TRUE(WaitUntil([&] { return !Log().empty(); }, kWaitMs));

    std::string upper = copy;
    CharUpperA(&upper[0]);
    EXPECT_TRUE(StopRunningCopy(upper));
    EXPECT_FALSE(running.WaitExit(300)) << "a path that differs in case must not match";

    EXPECT_TRUE(StopRunningCopy(copy));
    EXPECT_TRUE(running.WaitExit(0)) << "the stop must wait until the copy has ended";
    // The ended copy no longer holds its file.
    EXPECT_TRUE(CopyFileA(m_hall.c_str(), copy.c_str(), FALSE));
}

TEST_F(HandOffTest, StartWorkingCopyCopiesAndStartsWithTheParameter) {
    std::string module = CopyOfHall("selfrenew.exe");
    std::string working = m_dir + "Selfrenew.kro";
    WriteWholeFile(working, "old copy");
    SetCurrentDirectoryA(m_dir.c_str());
    StartWorkingCopy(module, working, "5,3");
    EXPECT_EQ(ReadWholeFile(working), ReadWholeFile(module));
    ASSERT_TRUE(WaitUntil([&] { return Log().find("\r\n") != std::string::npos; }, kWaitMs));
    EXPECT_EQ(Log(), "\"" + working + "\" 5,3\r\n");
}

TEST_F(HandOffTest, SelfUpdatedRestartsTheWorkingCopyWhateverTheParameter) {
    std::string working = CopyOfHall("Selfrenew.kro");
    SetCurrentDirectoryA(m_dir.c_str());
    g_bSelfUpdated = 1;
    g_bRunResult = 1;
    HandBackAfterUpdate(working, "Hollo", 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !Log().empty(); }, kWaitMs));
    EXPECT_EQ(Log(), "\"" + working + "\" Hollo\r\n");
}

TEST_F(HandOffTest, HallParameterStartsTheHallEvenAfterAFailedRun) {
    CopyOfHall("GameHollo.exe");
    SetCurrentDirectoryA(m_dir.c_str());
    HandBackAfterUpdate(m_dir + "Selfrenew.kro", "Hollo", 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !Log().empty(); }, kWaitMs));
    EXPECT_NE(Log().find("GameHollo.exe run"), std::string::npos) << Log();
}

TEST_F(HandOffTest, GameUpdateIsPostedToTheRunningHallOnlyAfterASuccess) {
    SetCurrentDirectoryA(m_dir.c_str());
    ChildProcess hall;
    ASSERT_TRUE(hall.Start("\"" + m_hall + "\" window", m_dir));
    HWND hwnd = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (hwnd = FindWindowA(kGameHallClass, nullptr)) != nullptr; }, kWaitMs));
    std::string messages = m_dir + "messages.log";

    // A failed run posts nothing: the marker arrives alone.
    HandBackAfterUpdate(m_dir + "Selfrenew.kro", "5,3", 5, 3);
    PostMessageA(hwnd, WM_APP + 1, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !ReadWholeFile(messages).empty(); }, kWaitMs));
    EXPECT_EQ(ReadWholeFile(messages), "flush\r\n");

    g_bRunResult = 1;
    HandBackAfterUpdate(m_dir + "Selfrenew.kro", "5,3", 5, 3);
    HandBackAfterUpdate(m_dir + "Selfrenew.kro", "70000,-3", 70000, -3);
    PostMessageA(hwnd, WM_APP + 1, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(messages).rfind("flush") > 0; }, kWaitMs));
    EXPECT_EQ(ReadWholeFile(messages),
              "flush\r\nmsg 2024 20 0x00030005\r\nmsg 2024 20 0xFFFD1170\r\nflush\r\n");
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(hall.WaitExit(kWaitMs));
}

}  // namespace
