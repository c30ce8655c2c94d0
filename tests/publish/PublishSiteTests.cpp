// The native publisher as operators run it: names from UTF-8 folders, the
// change report, kept releases and rollback, and check and the switch against
// the tests' nginx (PUBLISH_TEST_SITE is its root, PUBLISH_TEST_NGINX its state).
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include "../lists/native/NativeFiles.h"

namespace {

std::string g_strPublish;

using nativetest::RunResult;

RunResult Publish(const std::string& strArgs) { return nativetest::RunCommand(g_strPublish + " " + strArgs); }

bool Has(const RunResult& r, const std::string& strText) { return r.m_strOutput.find(strText) != std::string::npos; }

// Writes a file, creating its folders; a path ending in "/" is a folder.
void Put(const std::string& strPath, const std::string& strBytes) {
    for (size_t n = strPath.find('/', 1); n != std::string::npos; n = strPath.find('/', n + 1))
        mkdir(strPath.substr(0, n).c_str(), 0755);
    if (strPath.back() == '/') return;
    FILE* f = fopen(strPath.c_str(), "wb");
    ASSERT_NE(nullptr, f) << strPath;
    fwrite(strBytes.data(), 1, strBytes.size(), f);
    fclose(f);
}

using nativetest::Slurp;

bool Exists(const std::string& strPath) {
    struct stat st;
    return lstat(strPath.c_str(), &st) == 0;
}

std::string Env(const char* pszName) {
    const char* psz = getenv(pszName);
    return psz ? psz : "";
}

std::string ServedSite() { return Env("PUBLISH_TEST_SITE"); }
std::string ServedUrl() { return "http://127.0.0.1:" + Slurp(Env("PUBLISH_TEST_NGINX") + "/port").substr(0, 5); }

class PublishSite : public ::testing::Test {
protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/publish_site_test_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szTemplate));
        m_strTmp = szTemplate;
    }
    void TearDown() override { system(("rm -rf '" + m_strTmp + "'").c_str()); }
    // A release folder of its own holding the files.
    std::string Release(const std::string& strName, const std::vector<std::pair<std::string, std::string>>& files) {
        std::string strDir = m_strTmp + "/" + strName;
        mkdir(strDir.c_str(), 0755);
        for (const auto& f : files) Put(strDir + "/" + f.first, f.second);
        return strDir;
    }
    std::string m_strTmp;
};

}  // namespace

TEST_F(PublishSite, HelpListsEveryCommand) {
    RunResult help = Publish("--help");
    EXPECT_EQ(0, help.m_nStatus);
    for (const char* psz : {"publish [--keep N]", "publish check ", "publish rollback ", "publish keygen ", "--key ", "--dry-run", "--parallel"})
        EXPECT_TRUE(Has(help, psz)) << psz;
}

TEST_F(PublishSite, RefusesEachUnfitNameAndWritesNothing) {
    struct Case { const char* pszWhat; std::string strPath, strNamed, strReason; };
    const std::string strLongDir = std::string(120, 'd'), strLongFile = std::string(133, 'f') + ".txt";
    const Case cases[] = {
        {"leading blank", " data/a.txt", " data", "starts with a blank"},
        {"no GBK", "\xF0\x9F\x98\x80.txt", "\xF0\x9F\x98\x80.txt", "GBK can't hold"},
        {"not UTF-8", "bad\xFF.txt", "bad\xFF.txt", "GBK can't hold"},
        {"download path", std::string(235, 'a') + ".txt", std::string(235, 'a') + ".txt", "download path"},
        {"local path", strLongDir + "/" + strLongFile, strLongDir + "/" + strLongFile, "plus \".part\""},
    };
    for (const Case& c : cases) {
        std::string strRel = Release(std::string("rel_") + std::to_string(&c - cases), {{"good.txt", "g"}, {c.strPath, "x"}});
        std::string strSite = m_strTmp + "/site_" + std::to_string(&c - cases);
        RunResult r = Publish("'" + strRel + "' " + strSite + " P");
        EXPECT_EQ(1, r.m_nStatus) << c.pszWhat;
        EXPECT_TRUE(Has(r, "refused: " + c.strNamed + " ")) << c.pszWhat << "\n" << r.m_strOutput;
        EXPECT_TRUE(Has(r, c.strReason)) << c.pszWhat << "\n" << r.m_strOutput;
        EXPECT_FALSE(Exists(strSite)) << c.pszWhat << ": nothing may be written";
    }
    // One byte less than the longest refused download path fits.
    std::string strRel = Release("rel_fits", {{std::string(234, 'a') + ".txt", "x"}});
    EXPECT_EQ(0, Publish(strRel + " " + m_strTmp + "/site_fits P").m_nStatus);
}

TEST_F(PublishSite, Utf8NamesAreListedAndServedAsGbk) {
    // 倈 is 0x82 0x7C in GBK: its second byte is "|", which must not count.
    std::string strRel = Release("rel", {{"中文目录/中文文件.txt", "chinese"}, {"倈.txt", "trail"},
                                         {"winmm.dll", "w"}, {"UpdateINI/old.ini", "i"}});
    std::string strSite = m_strTmp + "/site";
    RunResult r = Publish(strRel + " " + strSite + " P");
    ASSERT_EQ(0, r.m_nStatus) << r.m_strOutput;
    EXPECT_TRUE(Has(r, "warning: winmm.dll is listed")) << r.m_strOutput;
    EXPECT_TRUE(Has(r, "warning: UpdateINI/old.ini is listed")) << r.m_strOutput;
    std::string strList = Slurp(strSite + "/kroupdate/P/filelist.list");
    EXPECT_TRUE(strList.find("/:\x82\x7C.txt:") != std::string::npos) << strList;
    EXPECT_TRUE(strList.find("\xD6\xD0\xCE\xC4\xC4\xBF\xC2\xBC:\xD6\xD0\xCE\xC4\xCE\xC4\xBC\xFE.txt:") != std::string::npos)
        << strList;
    EXPECT_EQ("chinese", Slurp(strSite + "/kroupdate/P/release/\xD6\xD0\xCE\xC4\xC4\xBF\xC2\xBC/"
                                         "\xD6\xD0\xCE\xC4\xCE\xC4\xBC\xFE.txt"));
}

// A changed file's patch against the live copy decodes with zstd's own tool
// into the new file, and the report counts it instead of the whole file.
TEST_F(PublishSite, PatchesChangedFilesAgainstTheLiveRelease) {
    std::string strOld, strSite = m_strTmp + "/site";
    for (unsigned i = 0; strOld.size() < 300000; ++i) strOld += "line " + std::to_string(i * 7919u % 100003u) + "\n";
    std::string strNew = strOld;
    strNew.replace(150000, 20, "a changed line here\n");
    struct Case {
        const char* pszArgs;
        bool bPatch;
    } cases[] = {{"--patch-min off", false}, {"", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszArgs);
        ASSERT_EQ(0, Publish(Release("a", {{"big.bin", strOld}, {"s.txt", "1"}}) + " " + strSite + " P").m_nStatus);
        RunResult r = Publish(std::string(c.pszArgs) + " --keep 3 " + Release("b", {{"big.bin", strNew}, {"s.txt", "2"}}) +
                              " " + strSite + " P");
        ASSERT_EQ(0, r.m_nStatus) << r.m_strOutput;
        EXPECT_EQ(c.bPatch, Has(r, "with 1 patch(es), " + std::to_string(strNew.size() + 1) + " bytes whole"))
            << r.m_strOutput;
        char szCrc[16];
        snprintf(szCrc, sizeof szCrc, "%08x", static_cast<unsigned>(crc32(0xFFFFFFFFul,
                 reinterpret_cast<const unsigned char*>(strOld.data()), static_cast<unsigned>(strOld.size()))));
        std::string strPatch = strSite + "/kroupdate/P/patches/big.bin/" + std::to_string(strOld.size()) + "-" + szCrc;
        EXPECT_EQ(c.bPatch, access(strPatch.c_str(), R_OK) == 0) << strPatch;
        if (!c.bPatch) continue;
        Put(m_strTmp + "/old.bin", strOld);
        EXPECT_EQ(0, nativetest::RunCommand("zstd -q -d --long=31 -f --patch-from=" + m_strTmp + "/old.bin " + strPatch +
                                            " -o " + m_strTmp + "/out.bin").m_nStatus);
        EXPECT_TRUE(Slurp(m_strTmp + "/out.bin") == strNew);
    }
}

TEST_F(PublishSite, ReportsChangesKeepsReleasesAndRollsBack) {
    std::string strSite = m_strTmp + "/site";
    std::string strA = Release("a", {{"a.txt", "1"}, {"b.txt", "22"}, {"c.txt", "333"}});
    std::string strB = Release("b", {{"a.txt", "1"}, {"b.txt", "2222"}, {"d.txt", "55555"}});
    ASSERT_EQ(0, Publish(strA + " " + strSite + " P").m_nStatus);
    std::string strListA = Slurp(strSite + "/kroupdate/P/filelist.list");

    RunResult dry = Publish("--dry-run " + strB + " " + strSite + " P");
    EXPECT_TRUE(Has(dry, "1 added, 1 changed, 1 removed, 1 unchanged file(s); a player on the previous release downloads 9 bytes"))
        << dry.m_strOutput;
    EXPECT_EQ(strListA, Slurp(strSite + "/kroupdate/P/filelist.list")) << "a dry run writes nothing";

    for (int i = 0; i < 3; ++i) ASSERT_EQ(0, Publish(strB + " " + strSite + " P --keep 2").m_nStatus);
    RunResult kept = Publish("--keep=3 " + strA + " " + strSite + " P");
    EXPECT_TRUE(Has(kept, "1 added, 1 changed, 1 removed, 1 unchanged file(s); a player on the previous release downloads 5 bytes"))
        << kept.m_strOutput;
    FILE* p = popen(("ls " + strSite + "/releases/P | wc -l").c_str(), "r");
    char sz[16] = {};
    fread(sz, 1, sizeof sz - 1, p);
    pclose(p);
    EXPECT_EQ(3, atoi(sz)) << "--keep=3";

    EXPECT_EQ(0, Publish("rollback " + strSite + " P").m_nStatus);
    EXPECT_EQ("2222", Slurp(strSite + "/kroupdate/P/release/b.txt"));
    EXPECT_EQ(0, Publish("rollback " + strSite + " P").m_nStatus);
    EXPECT_EQ(1, Publish("rollback " + strSite + " P").m_nStatus) << "only three releases are kept";
}

TEST_F(PublishSite, CheckFindsChangedAndMissingFilesOnTheServer) {
    std::string strPak(6000, 'p'), strOther = strPak;
    strOther[10] = 'q';
    std::string strRel = Release("rel", {{"a.txt", "a"}, {"b.txt", "b"}, {"sub/c.txt", "c"}, {"中文.txt", "z"},
                                         {"d.pak", strPak}, {"sub/e.pak", strPak}, {"f.pak", strPak}});
    ASSERT_EQ(0, Publish("--delta-min 4K " + strRel + " " + ServedSite() + " OpsCheck").m_nStatus);
    RunResult clean = Publish("check " + ServedUrl() + " OpsCheck --release " + strRel + " --parallel 3");
    EXPECT_EQ(0, clean.m_nStatus) << clean.m_strOutput;
    EXPECT_TRUE(Has(clean, "7 listed file(s)")) << clean.m_strOutput;

    // Block indexes: one cut short, one made for other bytes of the same size.
    std::string strBlocks = ServedSite() + "/kroupdate/OpsCheck/blocks/";
    std::string strIndex = Slurp(strBlocks + "d.pak");
    unlink((strBlocks + "d.pak").c_str());
    Put(strBlocks + "d.pak", strIndex.substr(0, strIndex.size() - 1));
    Put(m_strTmp + "/other/f.pak", strOther);
    ASSERT_EQ(0, Publish("--delta-min 4K " + m_strTmp + "/other " + ServedSite() + " OpsOther").m_nStatus);
    unlink((strBlocks + "sub/e.pak").c_str());
    Put(strBlocks + "sub/e.pak", Slurp(ServedSite() + "/kroupdate/OpsOther/blocks/f.pak"));
    RunResult damaged = Publish("check " + ServedUrl() + " OpsCheck");
    EXPECT_EQ(1, damaged.m_nStatus);
    EXPECT_TRUE(Has(damaged, "damaged: /kroupdate/OpsCheck/blocks/d.pak: block index unreadable")) << damaged.m_strOutput;
    EXPECT_TRUE(Has(damaged, "damaged: /kroupdate/OpsCheck/blocks/sub/e.pak: block index made for other bytes"))
        << damaged.m_strOutput;
    EXPECT_TRUE(Has(damaged, "2 problem(s)")) << damaged.m_strOutput;
    Put(strBlocks + "d.pak", strIndex);
    unlink((strBlocks + "sub/e.pak").c_str());

    // Behind the publisher's back: a served file replaced, another deleted, the release changed.
    std::string strServed = ServedSite() + "/kroupdate/OpsCheck/release/";
    unlink((strServed + "b.txt").c_str());
    Put(strServed + "b.txt", "B");
    unlink((strServed + "sub/c.txt").c_str());
    Put(strRel + "/a.txt", "newer");
    RunResult bad = Publish("check " + ServedUrl() + " OpsCheck --release " + strRel);
    EXPECT_EQ(1, bad.m_nStatus);
    EXPECT_TRUE(Has(bad, "wrong: /kroupdate/OpsCheck/release/b.txt:")) << bad.m_strOutput;
    EXPECT_TRUE(Has(bad, "missing: /kroupdate/OpsCheck/release/sub/c.txt:")) << bad.m_strOutput;
    EXPECT_TRUE(Has(bad, "stale: a.txt:")) << bad.m_strOutput;
    EXPECT_TRUE(Has(bad, "3 problem(s)")) << bad.m_strOutput << "(a missing index is no problem)";
    EXPECT_EQ(1, Publish("check " + ServedUrl() + " NoSuchProduct").m_nStatus);
}

// What a stale cache serves after a publish: the new list, but the old
// signature and an old file under their addresses.
TEST_F(PublishSite, CheckNamesAStaleSignatureAndStaleFiles) {
    ASSERT_EQ(0, Publish("keygen " + m_strTmp + "/keys").m_nStatus);
    const std::string strKey = " --key " + m_strTmp + "/keys/private.pem ";
    const std::string strProduct = ServedSite() + "/kroupdate/OpsStale/";
    ASSERT_EQ(0, Publish(strKey + Release("one", {{"a.txt", "one"}, {"b.txt", "b"}}) + " " + ServedSite() + " OpsStale").m_nStatus);
    const std::string strOldSig = Slurp(strProduct + "filelist.sig");
    ASSERT_EQ(0, Publish(strKey + Release("two", {{"a.txt", "two"}, {"b.txt", "b"}}) + " " + ServedSite() + " OpsStale").m_nStatus);
    const std::string strCheck = "check " + ServedUrl() + " OpsStale --key " + m_strTmp + "/keys/public.pem";
    RunResult clean = Publish(strCheck);
    EXPECT_EQ(0, clean.m_nStatus) << clean.m_strOutput;
    unlink((strProduct + "filelist.sig").c_str());
    Put(strProduct + "filelist.sig", strOldSig);
    unlink((strProduct + "release/a.txt").c_str());
    Put(strProduct + "release/a.txt", "one");
    RunResult stale = Publish(strCheck);
    EXPECT_EQ(1, stale.m_nStatus);
    EXPECT_TRUE(Has(stale, "stale: /kroupdate/OpsStale/filelist.sig: signs another filelist.list")) << stale.m_strOutput;
    EXPECT_TRUE(Has(stale, "wrong: /kroupdate/OpsStale/release/a.txt:")) << stale.m_strOutput;
    EXPECT_TRUE(Has(stale, "2 problem(s)")) << stale.m_strOutput;
}

namespace {

size_t AppendBody(char* p, size_t nSize, size_t nCount, void* pBody) {
    static_cast<std::string*>(pBody)->append(p, nSize * nCount);
    return nSize * nCount;
}

}  // namespace

TEST_F(PublishSite, ReadersSeeOneWholeListAtEveryInstantOfASwitch) {
    std::vector<std::pair<std::string, std::string>> filesA, filesB;
    for (int i = 0; i < 40; ++i) {
        filesA.push_back({"f" + std::to_string(i) + ".dat", "A" + std::to_string(i)});
        filesB.push_back({"f" + std::to_string(i) + ".dat", "B" + std::to_string(i * 7)});
    }
    filesB.push_back({"only_b/extra.dat", "extra"});
    std::string strA = Release("a", filesA), strB = Release("b", filesB);
    std::string strSite = ServedSite();
    ASSERT_EQ(0, Publish(strB + " " + strSite + " OpsSwitch").m_nStatus);
    std::string strListB = Slurp(strSite + "/kroupdate/OpsSwitch/filelist.list");
    ASSERT_EQ(0, Publish(strA + " " + strSite + " OpsSwitch").m_nStatus);
    std::string strListA = Slurp(strSite + "/kroupdate/OpsSwitch/filelist.list");

    std::atomic<bool> bStop{false};
    std::atomic<int> nReads{0}, nBad{0};
    std::string strUrl = ServedUrl() + "/kroupdate/OpsSwitch/filelist.list";
    std::thread reader([&] {
        CURL* h = curl_easy_init();
        curl_easy_setopt(h, CURLOPT_URL, strUrl.c_str());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, AppendBody);
        while (!bStop) {
            std::string strBody;
            curl_easy_setopt(h, CURLOPT_WRITEDATA, &strBody);
            long nCode = 0;
            bool bOk = curl_easy_perform(h) == CURLE_OK &&
                       curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &nCode) == CURLE_OK && nCode == 200;
            if (!bOk || (strBody != strListA && strBody != strListB)) ++nBad;
            ++nReads;
        }
        curl_easy_cleanup(h);
    });
    for (int i = 0; i < 6; ++i) {
        const std::string& strNext = i % 2 ? strA : strB;
        EXPECT_EQ(0, Publish(strNext + " " + strSite + " OpsSwitch").m_nStatus);
        // Switch, then check: what is served is the release just published.
        RunResult check = Publish("check " + ServedUrl() + " OpsSwitch --parallel 4 --release " + strNext);
        EXPECT_EQ(0, check.m_nStatus) << "round " << i << "\n" << check.m_strOutput;
    }
    bStop = true;
    reader.join();
    EXPECT_GT(nReads.load(), 10);
    EXPECT_EQ(0, nBad.load()) << "of " << nReads.load() << " reads";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::string strSelf = argv[0];
    g_strPublish = strSelf.substr(0, strSelf.rfind('/') + 1) + "publish";
    int nResult = RUN_ALL_TESTS();
    curl_global_cleanup();
    return nResult;
}
