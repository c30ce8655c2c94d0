// A file past 4 GiB end to end against nginx: a run cut part-way keeps what
// arrived, the next run asks for the rest from an offset past 32 bits, and the
// file installs with its listed checksum. The served file is sparse (zeros
// with a random stretch near its end), so it costs the site no disk.
#include "run/RunFixture.h"

#include <shlwapi.h>

#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "update/Checksum.h"

using namespace testing_support;

namespace {

const uint64_t kHugeSize = 4400000000ull;
const uint64_t kTailAt = 4350000000ull;  // where the random stretch starts
const uint64_t kResumeAt = 4300000000ull;

// Makes a sparse file of nSize bytes of zeros, with strTail written at nTailAt.
bool WriteSparse(const std::string& strPath, uint64_t nSize, uint64_t nTailAt, const std::string& strTail) {
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(nSize);
    bool bOk = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    DWORD nWritten = 0;
    if (bOk && !strTail.empty()) {
        at.QuadPart = static_cast<LONGLONG>(nTailAt);
        bOk = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
              WriteFile(h, strTail.data(), static_cast<DWORD>(strTail.size()), &nWritten, nullptr);
    }
    CloseHandle(h);
    return bOk;
}

uint64_t SizeOf(const std::string& strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class HugeFileTest : public RunTest {};

TEST_F(HugeFileTest, AFilePastFourGibibytesResumesAfterACutAndInstalls) {
    ULARGE_INTEGER nFree = {};
    GetDiskFreeSpaceExA(m_strProgramDir.c_str(), &nFree, nullptr, nullptr);
    if (nFree.QuadPart < 3 * kHugeSize) GTEST_SKIP() << "needs 13 GB of free disk for a 4.4 GB file, has " << nFree.QuadPart;

    std::string tail(1024 * 1024, '\0');
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<char>((i * 2654435761u) >> 13);
    ASSERT_TRUE(PublishRelease(m_strProduct, {{"huge.pak", "placeholder"}}));
    const std::string strServed = SiteFilePath(m_strProduct, "huge.pak");
    DeleteFileA(strServed.c_str());
    ASSERT_TRUE(WriteSparse(strServed, kHugeSize, kTailAt, tail));
    const uint32_t nCrc = FileChecksum(strServed.c_str(), -1);
    ASSERT_TRUE(WriteWholeFile(SiteProductFilePath(m_strProduct, "filelist.list"),
                               "/:huge.pak:" + std::to_string(static_cast<int>(nCrc)) + "\r\nend\r\n"));
    const std::string strTarget = m_strProgramDir + "huge.pak";

    // The first run is called off once a gigabyte has arrived.
    {
        RecordingSession session;
        session.settings.strProduct = m_strProduct;
        session.SetListener(this);
        session.StartOn({{"127.0.0.1", NginxPort(), 1}});
        ASSERT_TRUE(WaitUntil([&] { return SizeOf(strTarget + ".part") > 1000000000ull; }, 60000));
        ASSERT_TRUE(session.Stop(10000));
    }
    ASSERT_GT(SizeOf(strTarget + ".part"), 0u) << "the cut run keeps what arrived";
    const std::string strNote = ReadWholeFile(strTarget + ".part.v");
    ASSERT_NE(strNote.find("\n4400000000"), std::string::npos) << strNote;
    // Zeros up to past 4 GiB are what the server sends there too: the kept
    // part grows to that, and the next run must ask for the rest from there.
    ASSERT_TRUE(WriteSparse(strTarget + ".part", kResumeAt, 0, std::string()));

    size_t nLogged = NginxRequests().size();
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, NginxPort(), 240000, 1));
    EXPECT_EQ(session.GetStatus(), TEXT_DONE) << "the listed checksum held";
    EXPECT_EQ(SizeOf(strTarget), kHugeSize);
    EXPECT_EQ(FileChecksum(strTarget.c_str(), -1), nCrc);
    EXPECT_FALSE(PathFileExistsA((strTarget + ".part").c_str()));
    uint64_t nServed = 0;
    for (const auto& r : NginxRequestsAfter(nLogged, 2))
        if (r.strPath.find("huge.pak") != std::string::npos) nServed += r.nBytes;
    EXPECT_EQ(nServed, kHugeSize - kResumeAt) << "only the rest, from an offset past 32 bits";
    DeleteFileA(strTarget.c_str());
    DeleteFileA(strServed.c_str());
}

}  // namespace
