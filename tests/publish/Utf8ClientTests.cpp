// The shipped program installs what the native publisher made of UTF-8 names:
// publish_utf8.sh published product 61 into the tests' site (nginx and lighttpd
// serve it) before this runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "app/StartParam.h"
#include "support/Processes.h"
#include "support/Releases.h"

using namespace testing_support;

// nginx, and lighttpd as installed, which refuses names whose GBK bytes are
// no UTF-8 (文件 ends in FE, 更新 holds FC): the client then asks for their
// UTF-8 spelling.
TEST(Utf8Release, ChineseFilesInChineseFoldersInstallFromEachServer) {
    struct Case { const char* pszServer; unsigned short nPort; } cases[] = {
        {"nginx", NginxPort()},
        {"lighttpd", static_cast<unsigned short>(std::atoi(ReadWholeFile(WinePathFromEnv("SELFRENEW_LIGHTTPD") + "port").c_str()))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszServer);
        ASSERT_NE(c.nPort, 0);
        std::string strDir = FreshDir(std::string("utf8_client_") + c.pszServer);
        ASSERT_TRUE(WriteWholeFile(strDir + "selfrenew.exe", ReadWholeFile(ProgramBinDir() + "selfrenew.exe")));
        CreateDirectoryA((strDir + "UpdateRes").c_str(), nullptr);
        for (const char* name : {"BackGround.bmp", "Bar.bmp", "Bar2.bmp", "Btn1.bmp", "Btn2.bmp", "Btn3.bmp"})
            CopyFileA((ProgramBinDir() + "UpdateRes\\" + name).c_str(), (strDir + "UpdateRes\\" + name).c_str(), FALSE);
        char szIni[128];
        std::snprintf(szIni, sizeof szIni, "1;1;test;127.0.0.1;%u\r\n", c.nPort);
        ASSERT_TRUE(WriteWholeFile(strDir + "update.ini", szIni));

        ChildProcess updater;
        ASSERT_TRUE(updater.Start("\"" + strDir + "selfrenew.exe\" 61,1", strDir));
        // 中文目录\中文文件.txt and 数据\更新.txt in GBK, the program's code page;
        // their bytes as published (UTF-8 text).
        const std::string strFile = strDir + "\xD6\xD0\xCE\xC4\xC4\xBF\xC2\xBC\\\xD6\xD0\xCE\xC4\xCE\xC4\xBC\xFE.txt";
        const std::string strBody = "\xE4\xB8\xAD\xE6\x96\x87\xE5\x86\x85\xE5\xAE\xB9\n";
        const std::string strOther = strDir + "\xCA\xFD\xBE\xDD\\\xB8\xFC\xD0\xC2.txt";
        EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(strFile) == strBody && ReadWholeFile(strOther) == "update\n"; },
                              60000));
        EXPECT_EQ("plain\n", ReadWholeFile(strDir + "readme.txt"));
        std::string strTitle = BuildInstanceTitle("61,1").strTitle;
        EXPECT_TRUE(WaitUntil([&] { return FindWindowByCaption(strTitle) == nullptr; }, 60000));
    }
}
