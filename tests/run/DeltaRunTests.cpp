// A changed large file rebuilt from the installed copy's blocks: whatever
// the old copy, the index or the server, the installed file ends up the new
// one byte for byte, and where the blocks can be used only the changed spans
// (and the index) cross the line.
#include "run/RunFixture.h"

#include "net/BlockIndex.h"
#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "support/ScriptedServer.h"
#include "update/Checksum.h"

using namespace testing_support;
using testsupport::Reply;

namespace {

std::string IndexOf(const std::string& strBody) {
    net::BlockIndexBuilder builder(strBody.size());
    builder.Update(strBody.data(), strBody.size());
    unsigned char sha[32] = {};
    return builder.Finish(sha);
}

std::string ListLine(const std::string& strName, const std::string& strBody) {
    return "/:" + strName + ":" + std::to_string(static_cast<int>(ChecksumUpdate(ChecksumStart(), strBody.data(), strBody.size()))) + "\r\n";
}

// kOneRange200 and kOneRange416: one span per request only, the way caches
// answer several with the whole file (Traffic Server, nginx's cache on a miss)
// or with 416 (Varnish).
enum class Served { kNginx, kIgnoresRange, kOtherRanges, kOneRange200, kOneRange416 };

class DeltaRunTest : public RunTest {};

TEST_F(DeltaRunTest, TheInstalledFileIsTheNewOneAndOnlyChangesTravel) {
    const std::string fresh = SeededBytes(3 * 1024 * 1024, 21);  // 4 KiB blocks
    const std::string index = IndexOf(fresh);
    auto changed = [&](std::initializer_list<size_t> at) {
        std::string s = fresh;
        for (size_t n : at) s.replace(n, 4096, SeededBytes(4096, static_cast<unsigned>(n)));
        return s;
    };
    std::string inserted = fresh;
    inserted.insert(5000, SeededBytes(1000, 5));
    std::string broken = index;
    broken[0] = 'X';
    const size_t nIndex = index.size();
    struct Case {
        const char* pszName;
        std::string strOld;     // the installed copy
        std::string strIndex;   // what the server has as the index ("" none)
        Served served;
        uint64_t nMaxServed;    // bytes of the file and its index; 0: no bound
    } cases[] = {
        {"three scattered changes", changed({100000, 1500000, 3000000}), index, Served::kNginx, nIndex + 6 * 4096 + 2048},
        {"1000 bytes inserted near the start", inserted, index, Served::kNginx, nIndex + 3 * 4096 + 1024},
        {"a truncated local file", fresh.substr(0, fresh.size() * 6 / 10), index, Served::kNginx,
         nIndex + fresh.size() * 4 / 10 + 4096},
        {"an unrelated local file", SeededBytes(2 * 1024 * 1024, 99), index, Served::kNginx, nIndex + fresh.size() + 1024},
        {"a damaged index", changed({100000}), broken, Served::kNginx, 0},
        {"no index", changed({100000}), "", Served::kNginx, 0},
        {"a server that ignores Range", changed({100000, 2000000}), index, Served::kIgnoresRange, 0},
        {"a 206 with other spans than asked", changed({100000}), index, Served::kOtherRanges, 0},
        {"several spans answered whole", changed({100000, 2000000}), index, Served::kOneRange200, 0},
        {"several spans answered 416", changed({100000, 2000000}), index, Served::kOneRange416, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_strProduct = std::string("delta") + std::to_string(&c - cases);
        CleanProgramFolder();
        ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "big.pak", c.strOld));
        testsupport::ScriptedServer server;
        unsigned short nPort = NginxPort();
        size_t nLogged = NginxRequests().size();
        if (c.served == Served::kNginx) {
            ASSERT_TRUE(PublishRelease(m_strProduct, {{"big.pak", fresh}}));
            std::string strIndexPath = SiteProductFilePath(m_strProduct, "blocks\\big.pak");
            CreateDirectoryA(SiteProductFilePath(m_strProduct, "blocks").c_str(), nullptr);
            DeleteFileA(strIndexPath.c_str());
            if (!c.strIndex.empty()) {
                ASSERT_TRUE(WriteWholeFile(strIndexPath, c.strIndex));
            }
        } else {
            ASSERT_TRUE(server.Start());
            nPort = server.Port();
            const std::string strBase = "/kroupdate/" + m_strProduct;
            server.Script(strBase + "/filelist.list", Reply::Ok(ListLine("big.pak", fresh)));
            server.Script(strBase + "/blocks/big.pak", Reply::Ok(c.strIndex));
            Reply ranged = Reply::Ranged(fresh);
            server.Script(strBase + "/release/big.pak", c.served == Served::kIgnoresRange   ? Reply::Ok(fresh)
                                                        : c.served == Served::kOneRange200 ? ranged
                                                        : c.served == Served::kOneRange416 ? ranged.RefusingSeveralRanges()
                                                                                           : ranged.ShiftedRanges(4096));
        }
        RecordingSession session;
        ASSERT_TRUE(RunAgainst(session, nPort));
        EXPECT_TRUE(ReadWholeFile(m_strProgramDir + "big.pak") == fresh);
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
        for (const std::string& name : ListFolder(m_strProgramDir))
            EXPECT_EQ(name.find(".part"), std::string::npos) << "left behind: " << name;
        std::vector<std::string> ranges;
        for (const auto& r : server.Requests())
            if (r.Path().find("/release/") != std::string::npos) ranges.push_back(r.Header("Range"));
        if (c.served == Served::kIgnoresRange) {
            EXPECT_EQ(ranges.size(), 2u) << "several spans, one span: that whole answer is taken";
        }
        if (c.served == Served::kOneRange200 || c.served == Served::kOneRange416) {
            ASSERT_EQ(ranges.size(), 3u) << "several spans, then each alone";
            EXPECT_EQ(ranges[1].rfind("bytes=98304-", 0), 0u) << ranges[1];
            for (size_t i = 1; i < ranges.size(); ++i) EXPECT_EQ(ranges[i].find(','), std::string::npos) << ranges[i];
        }
        if (c.nMaxServed > 0) {
            uint64_t nServed = 0;
            for (const auto& r : NginxRequestsAfter(nLogged, 3))
                if (r.strPath.find("/big.pak") != std::string::npos) nServed += r.nBytes;
            EXPECT_LE(nServed, c.nMaxServed);
        }
        server.Stop();
    }
}

}  // namespace
