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
    PaintLine(hdc, painter, szText, kPercentLeft, y);
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
    DrawBar(hdc, g_skinBitmaps[SKIN_FILE_BAR], kBarLeft, kFileBarTop,
            BarWidth(snap.nFileProgress));
    DrawBar(hdc, g_skinBitmaps[SKIN_TOTAL_BAR], kBarLeft, kTotalBarTop,
            BarWidth(snap.nTotalProgress));

    painter.m_crText = kLabelColour;
    PaintLine(hdc, painter, TEXT_LABEL_FILE, kBarLeft + 5, LABEL_FILE_Y);
    PaintLine(hdc, painter, TEXT_LABEL_TOTAL, kBarLeft + 5, LABEL_TOTAL_Y);

    char szCounts[PROGRESS_TEXT_SIZE];
    FormatCountsLine(szCounts, sizeof(szCounts), snap.nFileIndex, snap.nFileCount, snap.nSpeed,
                     snap.nFileSize);
    painter.m_crText = kTextColour;
    PaintLine(hdc, painter, szCounts, kCountsLeft + 1, kCountsTop);
    PaintLine(hdc, painter, szCounts, kCountsLeft, kCountsTop);

    DrawPercent(hdc, painter, snap.nFileProgress, kFileBarTop - 14);
    DrawPercent(hdc, painter, snap.nTotalProgress, kTotalBarTop + 17);

    const std::string strStatus = StatusLineText(snap.status);
    PaintLine(hdc, painter, strStatus.c_str(), kStatusLeft + 1, kStatusTop);
    PaintLine(hdc, painter, strStatus.c_str(), kStatusLeft, kStatusTop);
}
