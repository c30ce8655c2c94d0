// The native publisher run as operators run it, and the client's reader
// built natively under the sanitizers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/BlockIndex.h"
#include "tools/Signing.h"
#include "update/FileList.h"
#include "update/PathRules.h"
#include "NativeFiles.h"

// The client's globals; the program defines them in its start-up code.
std::vector<FileEntry> g_updateList;

namespace {

std::string g_strPublish;

using nativetest::RunResult;

RunResult RunPublish(const std::string& strArgs) { return nativetest::RunCommand(g_strPublish + " " + strArgs); }

void Put(const std::string& strPath, const std::string& strBytes) {
    FILE* f = fopen(strPath.c_str(), "wb");
    ASSERT_NE(nullptr, f) << strPath;
    fwrite(strBytes.data(), 1, strBytes.size(), f);
    fclose(f);
}

using nativetest::Slurp;

ino_t Inode(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 ? st.st_ino : 0;
}

class PublishCli : public ::testing::Test {
protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/publish_test_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szTemplate));
        m_strTmp = szTemplate;
        m_strRel = m_strTmp + "/rel";
        mkdir(m_strRel.c_str(), 0755);
    }
    void TearDown() override { system(("rm -rf '" + m_strTmp + "'").c_str()); }
    std::string m_strTmp, m_strRel;
};

}  // namespace

TEST_F(PublishCli, HelpAndCommandLine) {
    RunResult help = RunPublish("--help");
    EXPECT_EQ(0, help.m_nStatus);
    EXPECT_NE(std::string::npos, help.m_strOutput.find("--skip-unsafe"));
    EXPECT_EQ(2, RunPublish("").m_nStatus);
    EXPECT_EQ(2, RunPublish("a b").m_nStatus);
    EXPECT_EQ(2, RunPublish("--bogus a b c").m_nStatus);
    EXPECT_EQ(2, RunPublish(m_strRel + " " + m_strTmp + "/site ..").m_nStatus);
}

TEST_F(PublishCli, MissingOrEmptyReleaseFails) {
    RunResult missing = RunPublish(m_strTmp + "/nothing " + m_strTmp + "/site Hollo");
    EXPECT_EQ(1, missing.m_nStatus);
    EXPECT_NE(std::string::npos, missing.m_strOutput.find("doesn't exist")) << missing.m_strOutput;
    RunResult empty = RunPublish(m_strRel + " " + m_strTmp + "/site Hollo");
    EXPECT_EQ(1, empty.m_nStatus);
    EXPECT_NE(std::string::npos, empty.m_strOutput.find("is empty")) << empty.m_strOutput;
}

// Operators point a link at the current build: the folder named on the
// command line is followed (links inside it still are not).
TEST_F(PublishCli, FollowsALinkGivenAsTheReleaseFolder) {
    Put(m_strRel + "/a.dll", "x");
    struct Case { const char* what; std::string target; int nStatus; const char* pszSays; } cases[] = {
        {"a link to the release folder", m_strRel, 0, "is live at"},
        {"a link to nothing", m_strTmp + "/nothing", 1, "doesn't exist"},
        {"a link to a file", m_strRel + "/a.dll", 1, "is not a folder"},
    };
    for (const Case& c : cases) {
        std::string strLink = m_strTmp + "/rel_link" + std::to_string(&c - cases);
        ASSERT_EQ(0, symlink(c.target.c_str(), strLink.c_str()));
        RunResult result = RunPublish(strLink + " " + m_strTmp + "/site" + std::to_string(&c - cases) + " Hollo");
        EXPECT_EQ(c.nStatus, result.m_nStatus) << c.what << "\n" << result.m_strOutput;
        EXPECT_NE(std::string::npos, result.m_strOutput.find(c.pszSays)) << c.what << "\n" << result.m_strOutput;
    }
    EXPECT_EQ("/:a.dll:-1591671055\r\nend\r\n", Slurp(m_strTmp + "/site0/kroupdate/Hollo/filelist.list"));
}

TEST_F(PublishCli, RefusesEachUnfitPathOrLeavesItOut) {
    Put(m_strRel + "/a.dll", "123456789");
    Put(m_strRel + "/README", "x");
    mkdir((m_strRel + "/v1.0").c_str(), 0755);
    Put(m_strRel + "/v1.0/in.dll", "x");
    Put(m_strRel + "/A.DLL", "x");
    Put(m_strRel + "/x:y.dll", "x");
    ASSERT_EQ(0, symlink("a.dll", (m_strRel + "/link.dll").c_str()));
    ASSERT_EQ(0, symlink("/etc", (m_strRel + "/etc").c_str()));
    const char* const refused[] = {"README", "v1.0", "a.dll", "x:y.dll", "link.dll", "etc"};

    std::string strSite = m_strTmp + "/site";
    RunResult strict = RunPublish(m_strRel + " " + strSite + " Hollo");
    EXPECT_EQ(1, strict.m_nStatus);
    for (const char* psz : refused)
        EXPECT_NE(std::string::npos, strict.m_strOutput.find(std::string("refused: ") + psz + " ")) << psz << "\n" << strict.m_strOutput;
    struct stat st;
    EXPECT_NE(0, stat(strSite.c_str(), &st)) << "nothing may be written";

    RunResult lenient = RunPublish("--skip-unsafe " + m_strRel + " " + strSite + " Hollo");
    EXPECT_EQ(0, lenient.m_nStatus) << lenient.m_strOutput;
    for (const char* psz : refused)
        EXPECT_NE(std::string::npos, lenient.m_strOutput.find(std::string("left out: ") + psz + " ")) << psz;
    EXPECT_EQ("/:A.DLL:-1591671055\r\nend\r\n", Slurp(strSite + "/kroupdate/Hollo/filelist.list"));
    EXPECT_NE(0, stat((strSite + "/kroupdate/Hollo/release/etc").c_str(), &st));
}

TEST_F(PublishCli, SiteIsReadBackByTheClient) {
    mkdir((m_strRel + "/skin").c_str(), 0755);
    mkdir((m_strRel + "/skin/main").c_str(), 0755);
    Put(m_strRel + "/b.dll", "abc");
    Put(m_strRel + "/a.dll", "123456789");
    Put(m_strRel + "/skin/main/bg.bmp", "abc");
    Put(m_strRel + "/\xD6\xD0\xCE\xC4.txt", "");
    std::string strSite = m_strTmp + "/site";
    for (int nRound = 0; nRound < 2; ++nRound) {  // publishing again over the site gives the same
        RunResult r = RunPublish("--names gbk " + m_strRel + " " + strSite + " Hollo");
        ASSERT_EQ(0, r.m_nStatus) << r.m_strOutput;
        std::string strList = strSite + "/kroupdate/Hollo/filelist.list";
        EXPECT_EQ("/:a.dll:-771566985\r\n/:b.dll:899311407\r\n/:skin:0\r\nskin:main:0\r\n"
                  "skin\\main:bg.bmp:899311407\r\n/:\xD6\xD0\xCE\xC4.txt:-1\r\nend\r\n",
                  Slurp(strList)) << "round " << nRound;
        std::vector<FileEntry> remote;
        ReadFileList(strList.c_str(), remote);
        EXPECT_EQ(6u, remote.size());
        EXPECT_EQ("abc", Slurp(strSite + "/kroupdate/Hollo/release/skin/main/bg.bmp"));
        EXPECT_EQ("123456789", Slurp(strSite + "/kroupdate/Hollo/release/a.dll"));
    }
}

TEST_F(PublishCli, BlockIndexesForLargeFilesOnly) {
    struct Row {
        const char* m_pszOption;
        int m_nStatus;
        size_t m_nSize;
        bool m_bIndexed;
    } const rows[] = {
        {"", 0, 1024 * 1024, true},          {"", 0, 1024 * 1024 - 1, false},
        {"--delta-min 8k", 0, 8192, true},   {"--delta-min 8K", 0, 8191, false},
        {"--delta-min off", 0, 4 << 20, false}, {"--delta-min=2M", 0, 2 << 20, true},
        {"--delta-min 3K", 2, 8192, false},  {"--delta-min 1.5M", 2, 8192, false},
        {"--delta-min -4K", 2, 8192, false},
    };
    int nRow = 0;
    for (const Row& row : rows) {
        std::string strRel = m_strTmp + "/rel" + std::to_string(nRow), strSite = m_strTmp + "/site" + std::to_string(nRow++);
        mkdir(strRel.c_str(), 0755);
        mkdir((strRel + "/data").c_str(), 0755);
        std::string strBytes(row.m_nSize, '\0');
        for (size_t i = 0; i < strBytes.size(); ++i) strBytes[i] = static_cast<char>((i * 7919) >> 5);
        Put(strRel + "/data/big.pak", strBytes);
        RunResult r = RunPublish(std::string(row.m_pszOption) + " " + strRel + " " + strSite + " Hollo");
        EXPECT_EQ(row.m_nStatus, r.m_nStatus) << row.m_pszOption << "\n" << r.m_strOutput;
        std::string strIndex = Slurp(strSite + "/kroupdate/Hollo/blocks/data/big.pak");
        EXPECT_EQ(row.m_bIndexed, !strIndex.empty()) << row.m_pszOption << " " << row.m_nSize;
        if (strIndex.empty()) continue;
        net::BlockIndex index;
        std::string strWhy;
        unsigned char sha[32];
        uint64_t nSize = 0;
        ASSERT_TRUE(net::ParseBlockIndex(strIndex.data(), strIndex.size(), index, strWhy)) << strWhy;
        ASSERT_TRUE(Sha256OfFile(strRel + "/data/big.pak", sha, nSize));
        EXPECT_EQ(row.m_nSize, index.nFileSize);
        EXPECT_EQ(net::BlockSizeFor(row.m_nSize), index.nBlockSize);
        EXPECT_EQ(0, memcmp(sha, index.fileSha256, 32)) << row.m_pszOption;
    }
}

TEST_F(PublishCli, TakesOverTheLiveCopyOnlyWhenItsSha256Matches) {
    // The second b.dat has the first one's size and checksum, not its bytes:
    // five bytes xored with the checksum's polynomial leave a CRC-32 as it was.
    std::string strA(300, 'a'), strB = strA;
    const unsigned char kPoly[] = {0x41, 0x06, 0x71, 0xDB, 0x01};
    for (int i = 0; i < 5; ++i) strB[100 + i] = static_cast<char>(strB[100 + i] ^ kPoly[i]);
    ASSERT_EQ(0, RunPublish("keygen " + m_strTmp + "/keys").m_nStatus);
    for (bool bSigned : {false, true}) {
        std::string strSite = m_strTmp + (bSigned ? "/site-signed" : "/site");
        std::string strArgs = (bSigned ? "--key " + m_strTmp + "/keys/private.pem " : "") + m_strRel + " " + strSite + " Hollo";
        Put(m_strRel + "/b.dat", strA);
        Put(m_strRel + "/same.dat", "unchanged");
        RunResult first = RunPublish(strArgs);
        ASSERT_EQ(0, first.m_nStatus) << first.m_strOutput;
        ino_t nSame = Inode(strSite + "/kroupdate/Hollo/release/same.dat");
        Put(m_strRel + "/b.dat", strB);
        RunResult second = RunPublish(strArgs);
        ASSERT_EQ(0, second.m_nStatus) << second.m_strOutput;
        EXPECT_TRUE(strB == Slurp(strSite + "/kroupdate/Hollo/release/b.dat")) << "signed " << bSigned;
        EXPECT_EQ(nSame, Inode(strSite + "/kroupdate/Hollo/release/same.dat")) << "signed " << bSigned << ": unchanged, linked";
    }
}

TEST_F(PublishCli, AFailedSwitchLeavesNoNewReleaseBehind) {
    Put(m_strRel + "/a.dll", "1");
    std::string strSite = m_strTmp + "/site";
    ASSERT_EQ(0, RunPublish(m_strRel + " " + strSite + " Hollo").m_nStatus);
    std::string strLiveId = Slurp(strSite + "/kroupdate/Hollo/publish.id");
    // The name the switch's new link takes is held by a folder that can't be removed.
    mkdir((strSite + "/kroupdate/Hollo.switching").c_str(), 0755);
    Put(strSite + "/kroupdate/Hollo.switching/x", "");
    Put(m_strRel + "/a.dll", "2");
    RunResult r = RunPublish(m_strRel + " " + strSite + " Hollo");
    EXPECT_EQ(1, r.m_nStatus) << r.m_strOutput;
    EXPECT_EQ(strLiveId, Slurp(strSite + "/kroupdate/Hollo/publish.id"));
    RunResult left = nativetest::RunCommand("ls " + strSite + "/releases/Hollo");
    EXPECT_EQ(strLiveId, left.m_strOutput) << "only the live release stays";
}

TEST(NativeReader, ArbitraryBytesNeverEscapeOrOverrun) {
    // Lines built from the bytes that matter to the reader; the sanitizers watch.
    const char kBytes[] = {':', ':', '\\', '/', '.', '.', 'a', '1', '-', ' ', '\r', '\n', '\x81', '\0', 'C'};
    const std::string strPath = "/tmp/publish_native_fuzz_" + std::to_string(getpid()) + ".list";
    unsigned seed = 99;
    for (int round = 0; round < 2000; ++round) {
        std::string body;
        size_t n = (seed = seed * 1103515245u + 12345u) >> 16 & 255;
        for (size_t i = 0; i < n; ++i) body += kBytes[((seed = seed * 1103515245u + 12345u) >> 16) % sizeof kBytes];
        Put(strPath, body);
        std::vector<FileEntry> remote;
        ReadFileList(strPath.c_str(), remote);
        for (const FileEntry& e : remote) ASSERT_TRUE(IsSafeEntry(e.m_strDir, e.m_strName)) << e.m_strDir << " " << e.m_strName;
    }
    unlink(strPath.c_str());
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The publisher beside this test program.
    std::string strSelf = argv[0];
    g_strPublish = strSelf.substr(0, strSelf.rfind('/') + 1) + "publish";
    return RUN_ALL_TESTS();
}
