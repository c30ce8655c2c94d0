// Multibyte-aware searches and the rule that keeps listed paths inside.
#include <gtest/gtest.h>

#include <string>

#include "net/RequestShape.h"
#include "tools/Publisher.h"
#include "update/PathRules.h"
#include "update/ServerPaths.h"

TEST(PathRules, SearchesStepOverDoubleByteCharacters) {
    struct Case { std::string s; char ch; size_t last; };
    const Case cases[] = {
        {"C:\\game\\selfrenew.exe", '\\', 7},
        {"C:\\ab\x81\\", '\\', 2},              // 0x5C as a trail byte
        {"C:\\\xD6\xD0\xCE\xC4\\x.exe", '\\', 7},
        {"noslash", '\\', std::string::npos},
        {"a.txt", '.', 1},
        {"\x81.", '.', std::string::npos},      // a lead byte swallows the next byte
        {"\x81..", '.', 2},
        {"end\x81", '\x81', 3},                 // a lone lead byte at the end is a byte of its own
    };
    for (const Case& c : cases) EXPECT_EQ(c.last, MbcsFindLast(c.s, c.ch)) << c.s;
    EXPECT_FALSE(NameHasDot("readme"));
    EXPECT_TRUE(NameHasDot("\xD6\xD0\xCE\xC4.txt"));
    EXPECT_FALSE(NameHasDot("\xD6\xD0\xCE\xC4"));
}

TEST(PathRules, CaseFoldingTouchesOnlyAsciiLetters) {
    EXPECT_TRUE(EqualsNoCaseAZ("Skin\\Main.DLL", "skin\\main.dll"));
    EXPECT_FALSE(EqualsNoCaseAZ("\xC1", "\xE1"));  // bytes above 0x7F stay as they are
    EXPECT_FALSE(EqualsNoCaseAZ("[", "{"));
    EXPECT_FALSE(EqualsNoCaseAZ("a", "ab"));
}

TEST(PathRules, OnlyEntriesInsideTheProgramFolderAreSafe) {
    struct Case { std::string dir, name; bool safe; };
    const Case cases[] = {
        {"/", "a.dll", true},
        {"\\", "a.dll", true},
        {"skin", "bg.bmp", true},
        {"skin\\main", "bg.bmp", true},
        {"skin/main", "bg.bmp", true},
        {"/", "skin", true},
        {"a..b", "c..d.txt", true},
        {"\xD6\xD0\xCE\xC4", "\xCE\xC4.txt", true},
        {"/", "\x81\\x.dll", true},               // one GBK character, no separator
        {"..", "a.dll", false},
        {"skin\\..", "a.dll", false},
        {"skin\\..\\..", "a.dll", false},
        {"skin/../..", "a.dll", false},
        {"/..", "a.dll", false},
        {"\\..", "a.dll", false},
        {"\\skin", "a.dll", false},
        {"//", "a.dll", false},
        {"\\\\server\\share", "a.dll", false},
        {"//server/share", "a.dll", false},
        {"C:", "a.dll", false},
        {"C:\\Windows", "a.dll", false},
        {"skin\\", "a.dll", false},
        {"skin\\\\main", "a.dll", false},
        {"", "a.dll", false},
        {"/", "", false},
        {"/", "..", false},
        {"/", ".", false},
        {"/", "...", false},
        {"/", ". .", false},
        {"skin\\. .", "a.dll", false},
        {"/", "..\\a.dll", false},
        {"/", "skin\\a.dll", false},
        {"/", "a/b.dll", false},
        {"/", "a:b.dll", false},
        {"/", "CON", false},
        {"/", "nul.txt", false},
        {"/", "Lpt3.log", false},
        {"com1", "a.dll", false},
        {"/", "a\tb.dll", false},
        {"/", std::string("..\0x.dll", 7), false},
        {"\x81\\..", "a.dll", false},             // ".." to a single-byte code page
        {"/", "\x81\\..", false},
        // Windows drops trailing dots and blanks, which would reach protected names.
        {"/", "selfrenew.exe.", false},
        {"/", "winmm.dll ", false},
        {"UpdateINI.", "files.ini", false},
        {"skin \\main", "a.dll", false},
        {"skin\\main.", "a.dll", false},
        {".skin", ".a.dll", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.safe, IsSafeEntry(c.dir, c.name)) << "dir [" << c.dir << "] name [" << c.name << "]";
}

TEST(PathRules, TheRunSkipsItsOwnListsWinmmAndTheRunningCopy) {
    struct Case { std::string dir, name; bool skipped; };
    const Case cases[] = {
        {"UpdateINI", "x.ini", true},   {"updateini\\Hollo", "files.ini", true}, {"UPDATEINI/a", "b.ini", true},
        {"UpdateINIs", "x.ini", false}, {"/", "WinMM.DLL", true},             {"data", "winmm.dll", true},
        {"/", "Selfrenew.kro", true},  {"\\", "selfrenew.kro", true},        {"data", "selfrenew.kro", false},
        {"/", "selfrenew.exe", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.skipped, IsSkippedEntry(c.dir, c.name)) << c.dir << " " << c.name;
}

TEST(PathRules, PublisherRefusesNamesTheClientCantTake) {
    struct Case { std::string name; bool folder; bool ok; };
    const Case cases[] = {
        {"a.dll", false, true},
        {"skin", true, true},
        {"\xD6\xD0\xCE\xC4.txt", false, true},
        {"readme", false, false},
        {"v1.0", true, false},
        {"a:b.dll", false, false},
        {"a\\b.dll", false, false},
        {"\x81\\.txt", false, false},   // the download path would turn the trail byte into "/"
        {"a#b.dll", false, false},
        {"a?b.dll", false, false},
        {"50%.dll", false, false},
        {"a.dll.", false, false},
        {"a.dll ", false, false},
        {"CON.txt", false, false},
        {"a\nb.dll", false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.ok, NameProblem(c.name, c.folder) == nullptr) << c.name;
    EXPECT_EQ(nullptr, ProductProblem("Hollo"));
    EXPECT_EQ(nullptr, ProductProblem("12"));
    EXPECT_NE(nullptr, ProductProblem(""));
    EXPECT_NE(nullptr, ProductProblem(".."));
    EXPECT_NE(nullptr, ProductProblem("a/b"));
}

// What a server and every cache on the way see: paths in plain ASCII that
// decode to the listed bytes, each file keyed by its listed checksum.
TEST(ServerPaths, EveryAddressIsEncodedAndVersioned) {
    struct Case { std::string got, want; };
    const Case cases[] = {
        {FileAddress("Hollo", "/", "a.dll", 0x1a2b3c4d), "/kroupdate/Hollo/release/a.dll?v=1a2b3c4d"},
        {FileAddress("8", "data\\maps", "c.map", 7), "/kroupdate/8/release/data/maps/c.map?v=00000007"},
        {BlockIndexAddress("8", "\\", "big.pak", 0xFFFFFFFF), "/kroupdate/8/blocks/big.pak?v=ffffffff"},
        // GBK: both bytes of a character, even a trail byte that is ASCII ("|", "\\").
        {FileAddress("8", "\xD6\xD0\\\x81\x5C", "\xCE\xC4.txt", 1),
         "/kroupdate/8/release/%D6%D0/%81%5C/%CE%C4.txt?v=00000001"},
        {FileAddress("8", "/", "a b%c#d?e\x7F.txt", 1), "/kroupdate/8/release/a%20b%25c%23d%3Fe%7F.txt?v=00000001"},
        {FileAddress("8", "/", "a.dll", 1, 0xABC), "/kroupdate/8/release/a.dll?v=00000001&r=abc"},
        {ListAddress("Hollo"), "/kroupdate/Hollo/filelist.list"},
        {ListAddress("Hollo", 0x10), "/kroupdate/Hollo/filelist.list?r=10"},
        {SignatureAddress("Hollo", 0x10), "/kroupdate/Hollo/filelist.sig?r=10"},
        // The UTF-8 twin of a GBK path: each byte alone, so no "/" is taken for a trail byte.
        {net::EncodeUtf8UrlPath("/r/\xE4\xB8\xAD/\xE6\x96\x87 a.txt"), "/r/%E4%B8%AD/%E6%96%87%20a.txt"},
        {net::DecodeUrlPath("/r/%D6%d0/%81%5C/x%2G%2"), "/r/\xD6\xD0/\x81\\/x%2G%2"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
    EXPECT_NE(FreshToken(), FreshToken());
}
