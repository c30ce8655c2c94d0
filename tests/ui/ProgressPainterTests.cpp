// Bars and texts drawn by DrawProgress, read back from a memory DC.
#include <gtest/gtest.h>

#include "UiHelpers.h"
#include "res/Texts.h"
#include "ui/Layout.h"
#include "ui/ProgressPainter.h"
#include "ui/Skin.h"
#include "ui/TextPainter.h"

namespace {

const COLORREF kPaper = RGB(255, 255, 255);
const COLORREF kFileBar = RGB(200, 0, 0);
const COLORREF kTotalBar = RGB(0, 0, 200);

class ProgressPainterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearSkin();
        g_skinBitmaps[SKIN_FILE_BAR] = MakeSolidBitmap(400, 20, kFileBar);
        g_skinBitmaps[SKIN_TOTAL_BAR] = MakeSolidBitmap(400, 20, kTotalBar);
        m_painter.SetFont(TEXT_FONT_SONG, 12, DEFAULT_CHARSET);
    }
    void TearDown() override { FreeSkin(); }

    // Width of the run of bar colour from the bar's left edge, on its middle row.
    static int BarRun(const Canvas& canvas, int nTop, COLORREF cr) {
        int x = kBarLeft;
        while (canvas.Pixel(x, nTop + 8) == cr) ++x;
        return x - kBarLeft;
    }

    TextPainter m_painter;
};

TEST_F(ProgressPainterTest, BarsRevealTheirLeftColumnsByProgress) {
    struct Case {
        int nProgress;
        int nWidth;
    } cases[] = {{5000, 186}, {10000, 372}, {1, 0}, {0, 0}, {20000, 372}, {-5, 0}};
    for (const Case& c : cases) {
        Canvas canvas(540, 420, kPaper);
        ProgressSnapshot snap;
        snap.nFileProgress = c.nProgress;
        snap.nTotalProgress = c.nProgress;
        DrawProgress(canvas.Dc(), m_painter, snap);
        EXPECT_EQ(c.nWidth, BarRun(canvas, kFileBarTop, kFileBar)) << "file bar, " << c.nProgress;
        EXPECT_EQ(c.nWidth, BarRun(canvas, kTotalBarTop, kTotalBar)) << "total bar, " << c.nProgress;
        // Exactly 16 rows, nothing stretched or spilled.
        RECT rcFile = {kBarLeft, kFileBarTop, kBarLeft + c.nWidth, kFileBarTop + BAR_HEIGHT};
        EXPECT_EQ(c.nWidth * BAR_HEIGHT, canvas.Count(rcFile, kFileBar)) << c.nProgress;
        RECT rcAll = {0, 0, 540, 420};
        EXPECT_EQ(c.nWidth * BAR_HEIGHT, canvas.Count(rcAll, kTotalBar)) << c.nProgress;
    }
}

TEST_F(ProgressPainterTest, TextsLandOnTheirRows) {
    Canvas canvas(540, 420, kPaper);
    ProgressSnapshot snap;
    snap.nFileProgress = 5000;
    snap.nTotalProgress = 2500;
    snap.nFileIndex = 3;
    snap.nFileCount = 10;
    snap.status.strText = TEXT_STARTING;
    DrawProgress(canvas.Dc(), m_painter, snap);

    struct Area {
        const char* pszName;
        RECT rc;
    } areas[] = {
        {"status line", {22, 210, 200, 222}},
        {"file percentage", {340, 212, 400, 224}},
        {"counts line", {22, 263, 250, 275}},
        {"total percentage", {340, 262, 400, 274}},
        {"file label", {23, 380, 100, 392}},
        {"total label", {23, 400, 100, 412}},
    };
    for (const Area& a : areas) EXPECT_GT(canvas.CountOther(a.rc, kPaper), 10) << a.pszName;

    // Labels are dark green, the rest black: no label pixel is more red than green.
    RECT rcLabel = {23, 380, 100, 392};
    int nGreen = 0;
    for (int y = rcLabel.top; y < rcLabel.bottom; ++y)
        for (int x = rcLabel.left; x < rcLabel.right; ++x) {
            COLORREF cr = canvas.Pixel(x, y);
            if (cr != kPaper && GetGValue(cr) > GetRValue(cr) + 40) ++nGreen;
        }
    EXPECT_GT(nGreen, 10);
    EXPECT_EQ(0, canvas.Count({22, 263, 250, 275}, RGB(0, 96, 0))) << "counts line is black";
}

TEST_F(ProgressPainterTest, EmptySlotsAndEmptyStatusDrawNothingThere) {
    FreeSkin();
    Canvas canvas(540, 420, kPaper);
    ProgressSnapshot snap;
    snap.nFileProgress = 10000;
    snap.nTotalProgress = 10000;
    DrawProgress(canvas.Dc(), m_painter, snap);
    RECT rcBars = {kBarLeft, kFileBarTop + 2, kBarLeft + BAR_FULL_WIDTH, kTotalBarTop + 16};
    EXPECT_EQ(0, canvas.CountOther(rcBars, kPaper));
    RECT rcStatus = {22, 210, 300, 222};
    EXPECT_EQ(0, canvas.CountOther(rcStatus, kPaper));
}

}  // namespace
