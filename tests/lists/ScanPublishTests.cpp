// The local scan under the program's folder, and a release published and
// read back by the client's own reader and comparison.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "lists/ListTestFiles.h"
#include "tools/Publisher.h"
#include "update/Checksum.h"
#include "update/FileList.h"
#include "update/LocalScan.h"

using namespace listtest;

namespace {

std::string UniqueName(const char* pszPrefix) {
    return std::string(pszPrefix) + std::to_string(GetCurrentProcessId());
}

FileEntry Local(const std::string& strDir, const std::string& strName, uint32_t nCrc) {
    return Entry(strDir, strName, nCrc);
}

std::vector<FileEntry> BuildFrom(const std::string& strBase, const std::vector<FileEntry>& remote) {
    std::vector<FileEntry> local;
    ScanFilesUnder(strBase, remote, local, ScanContext());
    return BuildUpdateList(remote, local);
}

}  // namespace

TEST(LocalScan, FindsEntriesUnderTheProgramFolder) {
    const std::string strSub = UniqueName("filelist_scan_");
    const std::string strProbe = UniqueName("filelist_probe_") + ".dat";
    ScratchFolder folder(ExeFolder() + strSub);
    folder.File("a.dll", "123456789");
    folder.File("readme", "abc");
    folder.File("skin\\bg.bmp", "abc");
    folder.Folder("v1.0");
    ASSERT_TRUE(WriteBytes(ExeFolder() + strProbe, "abc"));

    std::vector<FileEntry> remote = {
        Entry("/", strProbe, 1),         Entry("\\", strProbe, 2),     Entry(strSub, "a.dll", 3),
        Entry(strSub, "missing.dll", 4), Entry(strSub, "readme", 5),   Entry(strSub, "skin", 6),
        Entry(strSub + "\\skin", "bg.bmp", 7), Entry(strSub, "v1.0", 8), Entry(strSub, "nodir", 9),
    };
    std::vector<FileEntry> local;
    ScanLocalFiles(remote, local, ScanContext());
    DeleteFileA((ExeFolder() + strProbe).c_str());

    EXPECT_EQ(ExeFolder(), FindProgramFolder());
    std::vector<FileEntry> expected = {
        Local("/", strProbe, 0x359A672Fu),     Local("\\", strProbe, 0x359A672Fu), Local(strSub, "a.dll", 0xD202D277u),
        Local(strSub, "readme", 0),            Local(strSub, "skin", 0),
        Local(strSub + "\\skin", "bg.bmp", 0x359A672Fu),
        Local(strSub, "v1.0", 0xFFFFFFFFu),   // a folder with a dot can't be opened as a file
    };
    EXPECT_EQ(Describe(expected), Describe(local));
}

TEST(Publish, SiteReadsBackAndMatchesItsRelease) {
    ScratchFolder release("pub_release");
    ScratchFolder site("pub_site");
    release.File("a.dll", "123456789");
    release.File("skin\\main\\bg.bmp", "abc");
    release.File("data\\empty.dat", "");
    release.File("\xD6\xD0\xCE\xC4.txt", "abc");   // a GBK name, taken byte for byte
    release.Folder("logs");

    ReleaseScan scan;
    std::string strError;
    ASSERT_TRUE(ScanRelease("pub_release", scan, strError)) << strError;
    EXPECT_TRUE(scan.m_problems.empty());
    ASSERT_TRUE(WriteSite("pub_release", "pub_site", "Hollo", scan.m_entries, strError)) << strError;

    std::vector<FileEntry> remote;
    ReadFileList("pub_site\\kroupdate\\Hollo\\filelist.list", remote);
    const std::vector<FileEntry> expected = {
        Entry("/", "a.dll", 0xD202D277u), Entry("/", "data", 0), Entry("data", "empty.dat", 0xFFFFFFFFu),
        Entry("/", "logs", 0), Entry("/", "skin", 0), Entry("skin", "main", 0),
        Entry("skin\\main", "bg.bmp", 0x359A672Fu), Entry("/", "\xD6\xD0\xCE\xC4.txt", 0x359A672Fu),
    };
    EXPECT_EQ(Describe(expected), Describe(remote));

    EXPECT_EQ("", Describe(BuildFrom("pub_release\\", remote)));
    EXPECT_EQ("", Describe(BuildFrom("pub_site\\kroupdate\\Hollo\\release\\", remote)));

    // A client tree with one changed and one missing file fetches just those.
    WriteBytes("pub_release\\a.dll", "changed");
    DeleteFileA("pub_release\\skin\\main\\bg.bmp");
    EXPECT_EQ(Describe({expected[0], expected[6]}), Describe(BuildFrom("pub_release\\", remote)));
}

TEST(Publish, ListTextIsExact) {
    std::vector<PublishEntry> entries = {
        {"/", "a.dll", false, "a.dll", 0xD202D277u},
        {"/", "skin", true, "skin", 0},
        {"skin", "b.bmp", false, "skin/b.bmp", 5},
    };
    EXPECT_EQ("/:a.dll:-771566985\r\n/:skin:0\r\nskin:b.bmp:5\r\nend\r\n", FormatFileList(entries));
}

TEST(Publish, RefusedPathsAreNamed) {
    ScratchFolder release("pub_refused");
    release.File("a.dll", "x");
    release.File("README", "x");
    release.File("v1.0\\inner.dll", "x");
    ReleaseScan scan;
    std::string strError;
    ASSERT_TRUE(ScanRelease("pub_refused", scan, strError)) << strError;
    std::string strRefused;
    for (const PublishProblem& p : scan.m_problems) strRefused += p.m_strRelPath + "\n";
    EXPECT_NE(std::string::npos, strRefused.find("README\n")) << strRefused;
    EXPECT_NE(std::string::npos, strRefused.find("v1.0\n")) << strRefused;
    EXPECT_EQ(std::string::npos, strRefused.find("inner")) << strRefused;
    std::string strListed;
    for (const PublishEntry& e : scan.m_entries) strListed += e.m_strRelPath + "\n";
    EXPECT_NE(std::string::npos, strListed.find("a.dll\n")) << strListed;
}

TEST(Publish, MissingOrEmptyReleaseIsAnError) {
    ScratchFolder empty("pub_empty");
    for (const char* pszRoot : {"pub_empty", "pub_no_such_folder"}) {
        ReleaseScan scan;
        std::string strError;
        EXPECT_FALSE(ScanRelease(pszRoot, scan, strError)) << pszRoot;
        EXPECT_NE(std::string::npos, strError.find(pszRoot)) << strError;
    }
}
