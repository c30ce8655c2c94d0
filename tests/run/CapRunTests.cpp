// The bandwidth cap: eight transfers side by side on loopback share one
// budget, so the run's total follows the cap; closing the window mid-run
// still ends the run at once.
#include "run/RunFixture.h"

#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"

using namespace testing_support;

namespace {

const size_t kFileBytes = 3 * 1024 * 1024;
const unsigned kCapKiB = 2048;

ReleaseFiles EightLargeFiles() {
    ReleaseFiles files;
    for (unsigned i = 0; i < 8; ++i) files["pak" + std::to_string(i) + ".dat"] = SeededBytes(kFileBytes, 40 + i);
    return files;
}

TEST_F(RunTest, EightTransfersTogetherStayWithinTheCapAndClosingStillEndsAtOnce) {
    ASSERT_TRUE(PublishRelease(m_strProduct, EightLargeFiles()));
    size_t nBefore = NginxRequests().size();
    {
        RecordingSession session;
        session.settings.nLimitKiB = kCapKiB;
        ASSERT_TRUE(RunAgainst(session, NginxPort(), 60000, 8));
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
    }
    uint64_t nSent = 0;
    for (const LoggedRequest& r : NginxRequestsAfter(nBefore, 9)) nSent += r.nBytes;
    EXPECT_GE(nSent, 8 * kFileBytes);
    // The run's end pauses 1 s after the last file.
    const double dSeconds = (m_nClosedAfterMs - 1000) / 1000.0;
    const double dRate = nSent / dSeconds / 1024;
    EXPECT_NEAR(dRate, kCapKiB, kCapKiB * 0.1) << nSent << " bytes in " << dSeconds << " s";

    // Called off mid-run, as closing the window does: over within 2 s.
    CleanProgramFolder();
    g_updateList.clear();
    RecordingSession session;
    session.settings.nLimitKiB = kCapKiB;
    session.settings.strProduct = m_strProduct;
    session.StartOn("127.0.0.1", NginxPort(), 8);
    Sleep(3000);
    DWORD dwStart = GetTickCount();
    EXPECT_TRUE(session.Stop(2000));
    EXPECT_LT(GetTickCount() - dwStart, 2000u);
}

}  // namespace
