// Reading the server's list: one line at a time, and whole files on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "framework/Handles.h"
#include "lists/ListTestFiles.h"
#include "update/FileList.h"

using namespace listtest;

namespace {

std::vector<FileEntry> ReadText(const std::string& strText) {
    EXPECT_TRUE(WriteBytes("list_case.ini", strText));
    std::vector<FileEntry> remote;
    ReadFileList("list_case.ini", remote);
    remove("list_case.ini");
    return remote;
}

}  // namespace

TEST(ListReader, LinesThatMatch) {
    struct Case { std::string line; bool first; std::string dir, name; uint32_t crc; };
    const Case cases[] = {
        {"/:a.dll:123", false, "/", "a.dll", 123},
        {"/:a.dll:-771566985", false, "/", "a.dll", 0xD202D277u},
        {"/:a.dll:3523400311", false, "/", "a.dll", 0xD202D277u},
        {"/:a.dll:-1", false, "/", "a.dll", 0xFFFFFFFFu},
        {"/:a.dll:+5", false, "/", "a.dll", 5},
        {"/:a.dll:99999999999", false, "/", "a.dll", 1215752191u},  // modulo 2^32
        {"/:a.dll: 7 \t\r", false, "/", "a.dll", 7},
        {"skin\\main:bg bmp.x:1", false, "skin\\main", "bg bmp.x", 1},
        {"  skin:a.dll:1", false, "skin", "a.dll", 1},
        {"  skin:a.dll:1", true, "  skin", "a.dll", 1},  // only the first line keeps it
        {std::string(9999, 'd') + ":" + std::string(9999, 'n') + ":1", false, std::string(9999, 'd'),
         std::string(9999, 'n'), 1},
    };
    for (const Case& c : cases) {
        FileEntry e;
        ASSERT_TRUE(ParseListLine(c.line.data(), c.line.size(), c.first, e)) << c.line.substr(0, 40);
        EXPECT_EQ(c.dir, e.m_strDir) << c.line.substr(0, 40);
        EXPECT_EQ(c.name, e.m_strName) << c.line.substr(0, 40);
        EXPECT_EQ(c.crc, e.m_nCrc) << c.line.substr(0, 40);
    }
}

TEST(ListReader, LinesThatDontMatch) {
    const std::string cases[] = {
        "", "   ", "end", "noColon", "/:a.dll", ":a.dll:1", "/::1", "/:a.dll:", "/:a.dll:-", "/:a.dll:12x",
        "/:a.dll:1:2", "/:a.dll:1 2", "/:a.dll:x1",
        std::string(10000, 'd') + ":a.dll:1",
        "/:" + std::string(10000, 'n') + ":1",
    };
    for (const std::string& line : cases) {
        FileEntry e;
        EXPECT_FALSE(ParseListLine(line.data(), line.size(), false, e)) << line.substr(0, 40);
    }
}

TEST(ListReader, LineBreaksBlankLinesAndMarkReadAlike) {
    const std::vector<FileEntry> expected = {Entry("/", "a.dll", 1), Entry("skin", "b.bmp", 2),
                                             Entry("/", "skin", 0)};
    const std::string bodies[] = {
        "/:a.dll:1\r\nskin:b.bmp:2\r\n/:skin:0\r\n",
        "/:a.dll:1\r\nskin:b.bmp:2\r\n/:skin:0",          // last line without a break is kept
        "/:a.dll:1\nskin:b.bmp:2\n/:skin:0\n",
        "/:a.dll:1\r\n\r\n\r\nskin:b.bmp:2\n\n/:skin:0\r\n\r\n",
        "\r\n/:a.dll:1\r\nskin:b.bmp:2\r\n/:skin:0\r\n",
        "/:a.dll:1\rskin:b.bmp:2\r/:skin:0\r",
        "\xEF\xBB\xBF/:a.dll:1\r\nskin:b.bmp:2\r\n/:skin:0\r\nend\r\n",
        "/:a.dll:1\r\n  skin:b.bmp:2\r\n\t/:skin:0\r\nend",
    };
    for (const std::string& body : bodies)
        EXPECT_EQ(Describe(expected), Describe(ReadText(body))) << body;
}

TEST(ListReader, BadLinesAreSkippedAndReadingGoesOn) {
    std::string body = "/:a.dll:1\r\n"
                       "garbage without colon\r\n"
                       "/:b.dll:\r\n"
                       "/:c.dll:12x\r\n" +
                       std::string(100000, 'x') + "\r\n" +  // far past any field
                       std::string(10000, 'd') + ":e.dll:5\r\n" +
                       "..:evil.dll:1\r\n"
                       "/:..\\evil.dll:1\r\n"
                       "\\\\host\\share:evil.dll:1\r\n"
                       "skin\\..\\..:evil.dll:1\r\n"
                       "/:d.dll:4\r\n";
    EXPECT_EQ(Describe({Entry("/", "a.dll", 1), Entry("/", "d.dll", 4)}), Describe(ReadText(body)));
}

TEST(ListReader, ManyEntries) {
    std::string body;
    for (int i = 0; i < 20000; ++i) body += "data\\d" + std::to_string(i % 50) + ":f" + std::to_string(i) + ".dat:" + std::to_string(i) + "\r\n";
    std::vector<FileEntry> remote = ReadText(body + "end\r\n");
    ASSERT_EQ(20000u, remote.size());
    EXPECT_EQ("f19999.dat", remote.back().m_strName);
    EXPECT_EQ(19999u, remote.back().m_nCrc);
}

TEST(ListReader, ListThatCantBeOpenedForUpdateReadsEmpty) {
    std::vector<FileEntry> remote;
    ReadFileList("no_such_list.ini", remote);
    EXPECT_TRUE(remote.empty());

    // Another holder allows readers only: the list can't be opened for update.
    ASSERT_TRUE(WriteBytes("list_shared.ini", "/:a.dll:1\r\n/:b.dll:2\r\n"));
    {
        fw::UniqueHandle reader(CreateFileA("list_shared.ini", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(reader.IsValid());
        ReadFileList("list_shared.ini", remote);
        EXPECT_TRUE(remote.empty()) << Describe(remote);
    }
    ReadFileList("list_shared.ini", remote);
    EXPECT_EQ(2u, remote.size());
    remove("list_shared.ini");
}
