// The skinned button's face: composed in a memory bitmap of the client size
// and copied in one BitBlt, so the button never flickers.
#include "framework/SupportLog.h"
#include "ui/SkinnedButton.h"

namespace {

const int kGradientSteps = 64;

void Trace(const char* pszText) { fw::LogLine(pszText); }

COLORREF GradientColour(int i, bool bHover) {
    int rg = 255 - (bHover ? i / 4 : i / 3);
    int b = 255 - i / 5;
    return RGB(rg, rg, b);
}

}  // namespace

void SkinnedButton::PaintFace(HDC hdc) {
    SetBkMode(hdc, TRANSPARENT);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    int w = rc.right - rc.left;
    int h = rc.bottom - rc.top;

    // Kept as a plain handle: a failure to delete it is reported below.
    HDC hdcMem = CreateCompatibleDC(hdc);
    if (!hdcMem) Trace("Create MemDc ERROR");
    fw::MemoryDc bitmapDc(hdc);
    if (!bitmapDc.IsValid()) Trace("Create MemDc ERROR");
    if (!hdcMem) return;

    int nSaved = SaveDC(hdcMem);
    SetBkMode(hdcMem, TRANSPARENT);
    fw::GdiObject<HBITMAP> bmp(CreateCompatibleBitmap(hdc, w, h));
    HGDIOBJ hOldBitmap = SelectObject(hdcMem, bmp.Get());
    if (m_bHasBitmap) {
        DrawBitmapFace(hdcMem, bitmapDc.Get(), w, h);
    } else {
        DrawPlainFace(hdcMem);
    }
    BitBlt(hdc, 0, 0, w, h, hdcMem, 0, 0, SRCCOPY);

    if (hOldBitmap) SelectObject(hdcMem, hOldBitmap);
    RestoreDC(hdcMem, nSaved);
    if (!DeleteDC(hdcMem)) Trace("DeleteDC(hdcMem) ERROR");
    if (bmp.IsValid() && !DeleteObject(bmp.Release())) Trace("DeleteObject(bmp) ERROR");
}

HBITMAP SkinnedButton::CurrentFace() const {
    // Disabled without a disabled face: the normal face, with a grey caption.
    if (!m_bEnabled) return m_hbmDisabled ? m_hbmDisabled : m_hbmNormal;
    if (m_bPressed && m_hbmPressed) return m_hbmPressed;
    if (m_bHover && m_hbmHover) return m_hbmHover;
    return m_hbmNormal;
}

void SkinnedButton::DrawBitmapFace(HDC hdcTarget, HDC hdcBitmap, int w, int h) {
    HBITMAP hbmFace = CurrentFace();
    if (hdcBitmap && hbmFace) {
        fw::SelectScope select(hdcBitmap, hbmFace);
        BitBlt(hdcTarget, 0, 0, w, h, hdcBitmap, 0, 0, SRCCOPY);
    }
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    DrawCaption(hdcTarget, rc);
}

void SkinnedButton::DrawPlainFace(HDC hdc) {
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    int cx = GetSystemMetrics(SM_CXEDGE);
    int cy = GetSystemMetrics(SM_CYEDGE);
    {
        // The memory context's default white brush fills the outline.
        fw::SelectScope pen(hdc, m_hpenOutline.Get());
        RoundRect(hdc, rc.left, rc.top, rc.right, rc.bottom, 5, 5);
    }
    RECT rcInner = {rc.left + cx, rc.top + cy, rc.right - cx, rc.bottom - cy};
    FillGradient(hdc, rcInner);
    if (m_bHover) DrawHotBorder(hdc, rcInner);
    RECT rcText = rcInner;
    if (m_bPressed) rcText = {rc.left + 2, rc.top + 2, rc.right, rc.bottom};
    DrawCaption(hdc, rcText);
}

void SkinnedButton::FillGradient(HDC hdc, const RECT& rcInner) {
    int nWidth = rcInner.right - rcInner.left;
    int nHeight = rcInner.bottom - rcInner.top;
    if (nHeight <= 0) return;  // a face this small has no room for a gradient
    fw::GdiObject<HBRUSH> brushes[kGradientSteps];
    for (int i = 0; i < kGradientSteps; ++i) {
        brushes[i].Reset(CreateSolidBrush(GradientColour(i, m_bHover != 0)));
    }
    // Rows are numbered in client coordinates, so the last rows pass brush 63:
    // they keep the last colour.
    for (int y = rcInner.top; y <= nHeight + 2; ++y) {
        int i = y * (kGradientSteps - 1) / nHeight;
        if (i > kGradientSteps - 1) i = kGradientSteps - 1;
        if (i < 0) i = 0;
        RECT rcRow = {rcInner.left, y, nWidth + 2, y + 1};
        FillRect(hdc, &rcRow, brushes[i].Get());
    }
}

void SkinnedButton::DrawHotBorder(HDC hdc, const RECT& rc) {
    POINT ptOld;
    // The scope puts the context's own pen back after all four edges.
    fw::SelectScope pen(hdc, m_hpenHotLeft.Get());
    MoveToEx(hdc, rc.left, rc.bottom - 1, &ptOld);
    LineTo(hdc, rc.left, rc.top + 1);
    SelectObject(hdc, m_hpenHotRight.Get());
    MoveToEx(hdc, rc.right - 1, rc.bottom - 1, nullptr);
    LineTo(hdc, rc.right - 1, rc.top);
    SelectObject(hdc, m_hpenHotTop.Get());
    MoveToEx(hdc, rc.left - 1, rc.top, nullptr);
    LineTo(hdc, rc.right - 1, rc.top);
    SelectObject(hdc, m_hpenHotBottom.Get());
    MoveToEx(hdc, rc.left, rc.bottom, nullptr);
    LineTo(hdc, rc.right - 1, rc.bottom);
    MoveToEx(hdc, ptOld.x, ptOld.y, nullptr);
}

void SkinnedButton::DrawCaption(HDC hdc, const RECT& rcText) {
    m_szCaption[0] = '\0';
    GetWindowTextA(m_hWnd, m_szCaption, sizeof(m_szCaption));
    if (m_szCaption[0] == '\0') return;
    COLORREF crText = m_bEnabled ? m_crCaption : GetSysColor(COLOR_GRAYTEXT);
    COLORREF crOld = SetTextColor(hdc, crText);
    // The composition context starts with the system font; use the button's.
    HFONT hFont = reinterpret_cast<HFONT>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
    fw::SelectScope font(hdc, hFont);
    RECT rc = rcText;
    DrawTextA(hdc, m_szCaption, -1, &rc, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SetTextColor(hdc, crOld);
}
