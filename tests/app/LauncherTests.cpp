// The whole program under Wine: launcher, working copy, window and hand-back,
// with the stand-in game hall in the program folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include "support/Processes.h"
#include "app/StartParam.h"

using namespace testing_support;

namespace {

const DWORD kWaitMs = 15000;

std::string ImageOfWindow(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    fw::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    char sz[MAX_PATH] = {};
    if (process.IsValid()) GetModuleFileNameExA(process.Get(), nullptr, sz, MAX_PATH);
    return sz;
}

struct CaptionSearch {
    const std::string* caption;
    int count;
};

BOOL CALLBACK CountIfCaption(HWND hwnd, LPARAM lp) {
    auto* s = reinterpret_cast<CaptionSearch*>(lp);
    char text[256] = {};
    GetWindowTextA(hwnd, text, sizeof(text));
    if (*s->caption == text) ++s->count;
    return TRUE;
}

int CountWindowsWithCaption(const std::string& caption) {
    CaptionSearch search = {&caption, 0};
    EnumWindows(CountIfCaption, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(CopyFileA((ProgramBinDir() + "selfrenew.exe").c_str(), (m_dir + "selfrenew.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((TestBinDir() + "GameHollo.exe").c_str(), (m_dir + "GameHollo.exe").c_str(), FALSE));
    }
    void TearDown() override {
        for (const char* param : {"Hollo", "5,3", "7"}) {
            HWND hwnd = FindWindowByCaption(BuildInstanceTitle(param).strTitle);
            if (hwnd) PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
        }
    }
    HWND WaitForWindow(const std::string& title) {
        HWND hwnd = nullptr;
        WaitUntil([&] { return (hwnd = FindWindowByCaption(title)) != nullptr; }, kWaitMs);
        return hwnd;
    }
    std::string HallLog() { return ReadWholeFile(m_dir + "gamehollo.log"); }

    std::string m_dir;
};

TEST_F(LauncherTest, NoArgumentShowsTheWorkingCopysWindowAndOkStartsTheHall) {
    ChildProcess launcher;
    // Started from another folder: the program makes its own folder current.
    ASSERT_TRUE(launcher.Start("\"" + m_dir + "selfrenew.exe\"", ""));
    EXPECT_TRUE(launcher.WaitExit(kWaitMs));
    HWND hwnd = WaitForWindow(BuildInstanceTitle("Hollo").strTitle);
    ASSERT_NE(hwnd, nullptr);
    std::string image = ImageOfWindow(hwnd);
    EXPECT_EQ(lstrcmpiA(image.c_str(), (m_dir + "Selfrenew.kro").c_str()), 0) << image;
    EXPECT_EQ(ReadWholeFile(m_dir + "Selfrenew.kro"), ReadWholeFile(m_dir + "selfrenew.exe"));

    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return HallLog().find("run") != std::string::npos; }, kWaitMs));
    EXPECT_EQ(HallLog(), "GameHollo.exe run\r\n");
}

TEST_F(LauncherTest, EscapeEndsWithNothingStarted) {
    ChildProcess working;
    CopyFileA((m_dir + "selfrenew.exe").c_str(), (m_dir + "Selfrenew.kro").c_str(), FALSE);
    ASSERT_TRUE(working.Start("\"" + m_dir + "Selfrenew.kro\" Hollo", m_dir));
    HWND hwnd = WaitForWindow(BuildInstanceTitle("Hollo").strTitle);
    ASSERT_NE(hwnd, nullptr);
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(working.WaitExit(kWaitMs));
    Sleep(300);
    EXPECT_EQ(HallLog(), "");
}

TEST_F(LauncherTest, SecondStartWithTheSameParameterShowsNoSecondWindow) {
    std::string title = BuildInstanceTitle("5,3").strTitle;
    CopyFileA((m_dir + "selfrenew.exe").c_str(), (m_dir + "Selfrenew.kro").c_str(), FALSE);
    ChildProcess first;
    ASSERT_TRUE(first.Start("\"" + m_dir + "Selfrenew.kro\" 5,3", m_dir));
    ASSERT_NE(WaitForWindow(title), nullptr);

    ChildProcess second;
    ASSERT_TRUE(second.Start("\"" + m_dir + "Selfrenew.kro\" 5,3", m_dir));
    EXPECT_TRUE(second.WaitExit(kWaitMs));
    EXPECT_EQ(CountWindowsWithCaption(title), 1);
    EXPECT_TRUE(first.IsRunning());
}

TEST_F(LauncherTest, LauncherWithAnotherParameterReplacesTheRunningCopy) {
    // The path the launcher derives from its own name, letter case included.
    std::string working = m_dir + "selfrenew.kro";
    CopyFileA((m_dir + "selfrenew.exe").c_str(), working.c_str(), FALSE);
    ChildProcess old;
    ASSERT_TRUE(old.Start("\"" + working + "\" 5,3", m_dir));
    ASSERT_NE(WaitForWindow(BuildInstanceTitle("5,3").strTitle), nullptr);

    ChildProcess launcher;
    ASSERT_TRUE(launcher.Start("\"" + m_dir + "selfrenew.exe\" 7", m_dir));
    EXPECT_TRUE(launcher.WaitExit(kWaitMs));
    EXPECT_TRUE(old.WaitExit(kWaitMs)) << "the older working copy must have been ended";
    EXPECT_NE(WaitForWindow(BuildInstanceTitle("7").strTitle), nullptr);
}

}  // namespace
