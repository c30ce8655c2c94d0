// Bars are revealed from their left edge, never stretched; texts are drawn
// transparently, the counts and status lines twice for thicker strokes.
#include "ui/ProgressPainter.h"

#include "framework/Handles.h"
#include "res/Texts.h"
#include "ui/Layout.h"
#include "ui/ProgressText.h"
#include "ui/Skin.h"
#include "ui/TextPainter.h"

namespace {

const COLORREF kLabelColour = RGB(0, 96, 0);
const COLORREF kTextColour = RGB(0, 0, 0);

void PaintLine(HDC hdc, TextPainter& painter, const char* pszText, int x, int y) {
    painter.m_strText = pszText;
    painter.Draw(hdc, x, y);
}

void DrawPercent(HDC hdc, TextPainter& painter, int nProgress, int y) {
    char szText[PROGRESS_TEXT_SIZE];
    FormatPercent(szText, sizeof(szText), nProgress);
    PaintLine(hdc, painter, szText, g_nPercentLeft, y);
}

}  // namespace

void DrawBar(HDC hdc, HBITMAP hbmBar, int x, int y, int nWidth) {
    if (!hbmBar || nWidth <= 0) return;
    fw::MemoryDc memDc(hdc);
    if (!memDc.IsValid()) return;
    fw::SelectScope select(memDc.Get(), hbmBar);
    BitBlt(hdc, x, y, nWidth, BAR_HEIGHT, memDc.Get(), 0, 0, SRCCOPY);
}

void DrawProgress(HDC hdc, TextPainter& painter, const ProgressSnapshot& snap) {
    DrawBar(hdc, g_skinBitmaps[SKIN_FILE_BAR], g_nBarLeft, g_nFileBarTop,
            BarWidth(snap.nFileProgress));
    DrawBar(hdc, g_skinBitmaps[SKIN_TOTAL_BAR], g_nBarLeft, g_nTotalBarTop,
            BarWidth(snap.nTotalProgress));

    painter.m_crText = kLabelColour;
    PaintLine(hdc, painter, TEXT_LABEL_FILE, g_nBarLeft + 5, LABEL_FILE_Y);
    PaintLine(hdc, painter, TEXT_LABEL_TOTAL, g_nBarLeft + 5, LABEL_TOTAL_Y);

    char szCounts[PROGRESS_TEXT_SIZE];
    FormatCountsLine(szCounts, sizeof(szCounts), snap.nFileIndex, snap.nFileCount, snap.nSpeed,
                     snap.nFileSize);
    painter.m_crText = kTextColour;
    PaintLine(hdc, painter, szCounts, g_nCountsLeft + 1, g_nCountsTop);
    PaintLine(hdc, painter, szCounts, g_nCountsLeft, g_nCountsTop);

    DrawPercent(hdc, painter, snap.nFileProgress, g_nFileBarTop - 14);
    DrawPercent(hdc, painter, snap.nTotalProgress, g_nTotalBarTop + 17);

    PaintLine(hdc, painter, snap.strStatus.c_str(), g_nStatusLeft + 1, g_nStatusTop);
    PaintLine(hdc, painter, snap.strStatus.c_str(), g_nStatusLeft, g_nStatusTop);
}
