// The shipped program installs what the native publisher made of UTF-8 names:
// publish_utf8.sh published product 61 into the tests' nginx site before this runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "app/StartParam.h"
#include "support/Processes.h"
#include "support/Releases.h"

using namespace testing_support;

TEST(Utf8Release, AChineseFileInAChineseFolderInstalls) {
    std::string strDir = FreshDir("utf8_client");
    ASSERT_TRUE(WriteWholeFile(strDir + "selfrenew.exe", ReadWholeFile(ProgramBinDir() + "selfrenew.exe")));
    CreateDirectoryA((strDir + "UpdateRes").c_str(), nullptr);
    for (const char* name : {"BackGround.bmp", "Bar.bmp", "Bar2.bmp", "Btn1.bmp", "Btn2.bmp", "Btn3.bmp"})
        CopyFileA((ProgramBinDir() + "UpdateRes\\" + name).c_str(), (strDir + "UpdateRes\\" + name).c_str(), FALSE);
    char szIni[128];
    std::snprintf(szIni, sizeof szIni, "1;1;test;127.0.0.1;%u\r\n", NginxPort());
    ASSERT_TRUE(WriteWholeFile(strDir + "update.ini", szIni));

    ChildProcess updater;
    ASSERT_TRUE(updater.Start("\"" + strDir + "selfrenew.exe\" 61,1", strDir));
    // 中文目录\中文文件.txt in GBK, the program's code page; its bytes as published (UTF-8 text).
    const std::string strFile = strDir + "\xD6\xD0\xCE\xC4\xC4\xBF\xC2\xBC\\\xD6\xD0\xCE\xC4\xCE\xC4\xBC\xFE.txt";
    const std::string strBody = "\xE4\xB8\xAD\xE6\x96\x87\xE5\x86\x85\xE5\xAE\xB9\n";
    EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(strFile) == strBody; }, 60000));
    EXPECT_EQ("plain\n", ReadWholeFile(strDir + "readme.txt"));
    std::string strTitle = BuildInstanceTitle("61,1").strTitle;
    EXPECT_TRUE(WaitUntil([&] { return FindWindowByCaption(strTitle) == nullptr; }, 60000));
}
