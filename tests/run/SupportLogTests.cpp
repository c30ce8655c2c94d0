// The support log: what each kind of run leaves in UpdateINI\update.log, its
// rotation at 1 MB, and a log that can't be written, which fails nothing.
#include "run/RunFixture.h"

#include <functional>

#include "framework/SupportLog.h"
#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "support/ScriptedServer.h"
#include "tools/KeyPem.h"
#include "tools/Signing.h"
#include "update/Checksum.h"
#include "update/LocalScan.h"
#include "update/SerialStore.h"
#include "update/UpdatePaths.h"

using namespace testing_support;
using testsupport::Reply;

namespace {

std::string LogPath() { return SupportLogPath(FindProgramFolder()); }

std::string ListOf(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string list;
    for (const auto& f : files)
        list += "/:" + f.first + ":" + std::to_string(static_cast<int>(ChecksumUpdate(ChecksumStart(), f.second.data(),
                                                                                        f.second.size()))) + "\r\n";
    return list;
}

// A key that signs nothing the run will accept: a release signed with it is refused.
std::string StrangersKey() {
    std::string strPrivate, strPublic, strError;
    return CreateKeyPairPem(strPrivate, strPublic, strError) ? strPrivate : std::string();
}

class SupportLogTest : public RunTest {
protected:
    std::string Release(const std::string& strName) const { return "/kroupdate/" + m_strProduct + "/release/" + strName; }
    std::string ListPath() const { return "/kroupdate/" + m_strProduct + "/filelist.list"; }
    // One run on the port; the log holds only its lines afterwards.
    void RunOn(unsigned short nPort, const unsigned char* pKey = nullptr) {
        DeleteFileA(LogPath().c_str());
        RecordingSession session;
        session.settings.SetKey(pKey);
        session.settings.strProduct = m_strProduct;
        session.SetListener(this);
        session.StartOn("127.0.0.1", nPort, 2);
        ASSERT_TRUE(WaitForRunEnd(60000));
    }
};

TEST_F(SupportLogTest, EachKindOfRunLeavesTheLinesSupportReads) {
    const std::string big = SeededBytes(3 * 1024 * 1024, 5), one = SeededBytes(1200 * 1024, 11),
                      two = SeededBytes(1200 * 1024, 12);
    const std::string strProduct = m_strProduct;
    const unsigned char kKey[64] = {1};  // no release is signed with it
    testsupport::ScriptedServer server;
    ASSERT_TRUE(server.Start());
    struct Case {
        const char* pszName;
        std::function<unsigned short()> prepare;  // publishes or scripts, returns the port
        const unsigned char* pKey;
        std::vector<std::string> lines;  // each must be in the log
        bool bSmallDisk = false;         // the run writes to the small file system
    } cases[] = {
        {"install", [&] { PublishRelease(m_strProduct, {{"a.dll", "new"}, {"data/", ""}, {"data/b.dat", "b"}});
                          return NginxPort(); }, nullptr,
         {"run: selfrenew 1.0.0.0, start parameter \"\", product \"" + strProduct + "0\", direct, unsigned releases",
          "servers: 127.0.0.1:", "list: from 127.0.0.1:", "3 entries, 3 to fetch or create", "file: a.dll whole, 3 bytes",
          "folder: data made", "file: data\\b.dat whole, 1 bytes", "end: done,"}},
        {"nothing to do", [&] { return NginxPort(); }, nullptr,
         {"list: from", "0 to fetch or create", "end: done,"}},
        {"a 404 file", [&] {
             server.Script(ListPath(), Reply::Ok(ListOf({{"gone.dll", "x"}})));
             return server.Port(); }, nullptr,
         {"GetFile: HTTP 404, no 200 answer", "file: gone.dll failed, 0 bytes, 127.0.0.1:",
          "1 try: GetFile: HTTP 404, no 200 answer; message (G)", "end: done,"}},
        {"a refused signature", [&] {
             PublishSignedRelease(m_strProduct, {{"a.dll", "signed"}}, StrangersKey(), UtcSecondsNow());
             return NginxPort(); }, kKey,
         {"signed releases", "ReleaseGuard: filelist.sig refused", "end: failed,", "(S)\""}},
        {"a cut resumed file", [&] {
             server.Script(ListPath(), Reply::Ok(ListOf({{"big.pak", big}})));
             server.Script(Release("big.pak"), {Reply::Cut(big, big.size() / 2).Headers({"ETag: \"v1\""}),
                                                Reply::Ranged(big)});
             return server.Port(); }, nullptr,
         {"GetFile: body shorter than Content-Length", "file: big.pak resumed, " + std::to_string(big.size()) +
          " bytes, 127.0.0.1:", ", 2 tries", "end: done,"}},
        {"a full disk", [&] {
             server.Script(ListPath(), Reply::Ok(ListOf({{"one.pak", one}, {"two.pak", two}})));
             server.Script(Release("one.pak"), Reply::Ok(one));
             server.Script(Release("two.pak"), Reply::Ok(two));
             return server.Port(); }, nullptr,
         {" failed, 0 bytes, 127.0.0.1:", "; message (D)", "end: done,"}, true},
    };
    const std::string strSmall = WinePathFromEnv("SELFRENEW_SMALLFS");
    ULARGE_INTEGER nFree = {};
    const bool bSmallDisk = GetDiskFreeSpaceExA(strSmall.c_str(), &nFree, nullptr, nullptr) &&
                            nFree.QuadPart <= 4u * 1024 * 1024;
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        // Each case a product of its own, but "nothing to do" repeats the install.
        if (std::string(c.pszName) != "nothing to do") m_strProduct = strProduct + std::to_string(nCase);
        ++nCase;
        if (c.bSmallDisk && !bSmallDisk) {
            ADD_FAILURE() << "no small file system mounted at " << strSmall;
            continue;
        }
        unsigned short nPort = c.prepare();
        if (c.bSmallDisk) SetCurrentDirectoryA(strSmall.c_str());
        RunOn(nPort, c.pKey);
        SetCurrentDirectoryA(m_strProgramDir.c_str());
        if (c.bSmallDisk)
            for (const char* pszName : {"one.pak", "two.pak"}) DeleteFileA((strSmall + pszName).c_str());
        std::string strLog = ReadWholeFile(LogPath());
        // Transfers run side by side: their lines may come in any order.
        for (const std::string& line : c.lines)
            EXPECT_NE(strLog.find(line), std::string::npos) << "missing \"" << line << "\" in:\n" << strLog;
        // Local time first, one event a line.
        EXPECT_EQ(strLog.substr(4, 1) + strLog.substr(7, 1) + strLog.substr(13, 1), "--:") << strLog;
        g_updateList.clear();
    }
    server.Stop();
}

TEST_F(SupportLogTest, TheLogRotatesAtOneMegabyteAndOneThatCantBeWrittenFailsNothing) {
    PublishRelease(m_strProduct, {{"a.dll", "a"}});
    CreateDirectoryA(UpdateIniFolder(FindProgramFolder()).c_str(), nullptr);
    const std::string strFull(fw::kSupportLogMaxBytes - 10, 'x');
    ASSERT_TRUE(WriteWholeFile(LogPath(), strFull));
    ASSERT_TRUE(WriteWholeFile(LogPath() + ".1", "the older one"));
    {
        RecordingSession session;
        ASSERT_TRUE(RunAgainst(session, NginxPort()));
    }
    EXPECT_TRUE(ReadWholeFile(LogPath() + ".1") == strFull) << "the full log is kept, the older one gone";
    std::string strLog = ReadWholeFile(LogPath());
    EXPECT_EQ(strLog.find("x"), std::string::npos);
    EXPECT_NE(strLog.find("end: done,"), std::string::npos) << strLog;

    // Read-only, and held by another program (Wine run as root writes
    // read-only files): the run installs as ever and the log stays as it was.
    ASSERT_TRUE(WriteWholeFile(LogPath(), "kept as it is"));
    SetFileAttributesA(LogPath().c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE hHeld = CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    DeleteFileA((m_strProgramDir + "a.dll").c_str());
    g_updateList.clear();
    {
        RecordingSession session;
        ASSERT_TRUE(RunAgainst(session, NginxPort()));
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
    }
    CloseHandle(hHeld);
    EXPECT_EQ(g_bRunResult, 1);
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "a.dll"), "a");
    EXPECT_EQ(ReadWholeFile(LogPath()), "kept as it is");
    SetFileAttributesA(LogPath().c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
