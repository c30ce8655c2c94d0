// A push button that draws its own face from bitmaps (normal, hover, pressed,
// disabled) or, with no normal bitmap, a plain gradient face. It subclasses an
// existing button window and passes everything but painting on, so clicks
// still reach the parent as BN_CLICKED.
#pragma once

#include <windows.h>

#include "framework/Handles.h"

class SkinnedButton {
public:
    SkinnedButton();
    virtual ~SkinnedButton();
    SkinnedButton(const SkinnedButton&) = delete;
    SkinnedButton& operator=(const SkinnedButton&) = delete;

    // Subclasses an existing button window; false when it doesn't exist or
    // the "CWINBUTTON" property can't be set.
    bool Attach(HWND hwnd);
    // Sets the normal face, optionally sizing the window to it. False, with
    // nothing changed, while disabled or for an empty bitmap.
    bool SetBitmap(HBITMAP hbm, bool bResize);
    // Puts the previous window procedure back and frees the pens.
    void Detach();
    // Composes the whole face off screen and copies it to hdc at (0, 0).
    void PaintFace(HDC hdc);

    static LRESULT CALLBACK SkinnedButtonProc(HWND hwnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    WNDPROC m_pfnOldProc = nullptr;
    HBITMAP m_hbmNormal = nullptr;    // borrowed: the owner deletes the faces
    HBITMAP m_hbmHover = nullptr;
    HBITMAP m_hbmPressed = nullptr;
    HBITMAP m_hbmDisabled = nullptr;
    BITMAP m_bmNormal;
    COLORREF m_crCaption = RGB(0, 0, 0);
    int m_bHover = 0;
    int m_bPressed = 0;
    int m_bEnabled = 1;
    int m_bHasBitmap = 0;
    char m_szCaption[256];
    fw::GdiObject<HPEN> m_hpenOutline;
    fw::GdiObject<HPEN> m_hpenHotLeft;
    fw::GdiObject<HPEN> m_hpenHotRight;
    fw::GdiObject<HPEN> m_hpenHotTop;
    fw::GdiObject<HPEN> m_hpenHotBottom;

private:
    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT CallOldProc(UINT nMsg, WPARAM wParam, LPARAM lParam);
    void Repaint();
    void OnMouseMove();
    void OnPaint();
    void OnNcDestroy();
    void TraceKey(WPARAM wParam, LPARAM lParam, const char* pszName);

    HBITMAP CurrentFace() const;
    void DrawBitmapFace(HDC hdcTarget, HDC hdcBitmap, int w, int h);
    void DrawPlainFace(HDC hdc);
    void FillGradient(HDC hdc, const RECT& rcInner);
    void DrawHotBorder(HDC hdc, const RECT& rcInner);
    void DrawCaption(HDC hdc, const RECT& rcText);
};
