// Subclassing, hover tracking and the off-screen face of the skinned button.
#include "ui/SkinnedButton.h"

#include <cstdio>
#include <cstring>

#include "framework/SupportLog.h"

namespace {

const char kPropName[] = "CWINBUTTON";
// OR-ed into a push button's style, this makes its type BS_OWNERDRAW, so the
// button's own procedure never paints over our face.
const LONG kOwnerDrawBits = 0xB;

void Trace(const char* pszText) { fw::LogLine(pszText); }

// Installs a window procedure and returns the previous one. On this 32-bit
// program the Ptr variant is exactly SetWindowLongA with GWL_WNDPROC.
WNDPROC ReplaceWndProc(HWND hwnd, WNDPROC pfnNew) {
    return reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnNew)));
}

// The window owns a region once SetWindowRgn succeeds; until then it's ours.
void GiveRegion(HWND hwnd, HRGN hrgn) {
    if (hrgn && !SetWindowRgn(hwnd, hrgn, TRUE)) DeleteObject(hrgn);
}

}  // namespace

SkinnedButton::SkinnedButton()
    : m_hpenOutline(CreatePen(PS_INSIDEFRAME, 1, RGB(255, 255, 255))),
      m_hpenHotLeft(CreatePen(PS_INSIDEFRAME, 3, RGB(250, 196, 88))),
      m_hpenHotRight(CreatePen(PS_INSIDEFRAME, 3, RGB(251, 202, 106))),
      m_hpenHotTop(CreatePen(PS_INSIDEFRAME, 2, RGB(252, 210, 121))),
      m_hpenHotBottom(CreatePen(PS_INSIDEFRAME, 2, RGB(229, 151, 0))) {
    std::memset(&m_bmNormal, 0, sizeof(m_bmNormal));
    m_szCaption[0] = '\0';
}

SkinnedButton::~SkinnedButton() { Detach(); }

bool SkinnedButton::Attach(HWND hwnd) {
    if (!IsWindow(hwnd)) return false;
    m_hWnd = hwnd;
    if (!SetPropA(hwnd, kPropName, this)) {
        Trace("SetProp ERROR");
        m_hWnd = nullptr;
        return false;
    }
    SetWindowLongA(hwnd, GWL_STYLE, GetWindowLongA(hwnd, GWL_STYLE) | kOwnerDrawBits);
    RECT rc;
    GetClientRect(hwnd, &rc);
    GiveRegion(hwnd, CreateRoundRectRgn(rc.left, rc.top, rc.right, rc.bottom, 5, 5));
    m_pfnOldProc = ReplaceWndProc(hwnd, SkinnedButtonProc);
    return true;
}

bool SkinnedButton::SetBitmap(HBITMAP hbm, bool bResize) {
    if (!m_bEnabled || !hbm) return false;
    m_hbmNormal = hbm;
    if (bResize && GetObjectA(hbm, sizeof(m_bmNormal), &m_bmNormal) == sizeof(m_bmNormal)) {
        SetWindowPos(m_hWnd, nullptr, 0, 0, m_bmNormal.bmWidth, m_bmNormal.bmHeight,
                     SWP_NOMOVE | SWP_NOOWNERZORDER);
    }
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    GiveRegion(m_hWnd, CreateRectRgn(rc.left, rc.top, rc.right, rc.bottom));
    InvalidateRect(m_hWnd, &rc, TRUE);
    m_bHasBitmap = 1;
    return true;
}

void SkinnedButton::Detach() {
    if (m_pfnOldProc && IsWindow(m_hWnd)) {
        ReplaceWndProc(m_hWnd, m_pfnOldProc);
        RemovePropA(m_hWnd, kPropName);
    }
    m_pfnOldProc = nullptr;
    m_hpenOutline.Reset();
    m_hpenHotLeft.Reset();
    m_hpenHotRight.Reset();
    m_hpenHotTop.Reset();
    m_hpenHotBottom.Reset();
    m_bHover = 0;
}

LRESULT CALLBACK SkinnedButton::SkinnedButtonProc(HWND hwnd, UINT nMsg, WPARAM wParam,
                                                  LPARAM lParam) {
    SkinnedButton* pButton = static_cast<SkinnedButton*>(GetPropA(hwnd, kPropName));
    if (!pButton) return DefWindowProcA(hwnd, nMsg, wParam, lParam);
    return pButton->OnMessage(nMsg, wParam, lParam);
}

LRESULT SkinnedButton::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_PAINT: OnPaint(); return 0;
    case WM_ERASEBKGND: return 1;  // the face covers everything
    case WM_MOUSEMOVE: OnMouseMove(); break;
    case WM_MOUSELEAVE: m_bHover = 0; Repaint(); break;
    case WM_LBUTTONDOWN: m_bPressed = 1; Repaint(); break;
    case WM_LBUTTONUP: m_bPressed = 0; Repaint(); break;
    case WM_ENABLE: m_bEnabled = wParam ? 1 : 0; Repaint(); break;
    case WM_KILLFOCUS: Repaint(); break;
    case WM_KEYDOWN: TraceKey(wParam, lParam, "WM_KEYDOWN"); break;
    case WM_SYSKEYDOWN: TraceKey(wParam, lParam, "WM_SYSKEYDOWN"); break;
    case WM_CHAR:
    case WM_CLOSE: Trace("WM_CHAR"); break;
    case WM_DRAWITEM: Trace("WM_DRAWITEM"); break;
    case WM_NCDESTROY: {
        // The window goes away before this object: unhook now, so that the
        // destructor never touches a handle that may already be reused.
        WNDPROC pfnOld = m_pfnOldProc;
        HWND hwnd = m_hWnd;
        OnNcDestroy();
        return pfnOld ? CallWindowProcA(pfnOld, hwnd, nMsg, wParam, lParam)
                      : DefWindowProcA(hwnd, nMsg, wParam, lParam);
    }
    default: break;
    }
    return CallOldProc(nMsg, wParam, lParam);
}

LRESULT SkinnedButton::CallOldProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (!m_pfnOldProc) return DefWindowProcA(m_hWnd, nMsg, wParam, lParam);
    return CallWindowProcA(m_pfnOldProc, m_hWnd, nMsg, wParam, lParam);
}

void SkinnedButton::OnNcDestroy() {
    ReplaceWndProc(m_hWnd, m_pfnOldProc);
    RemovePropA(m_hWnd, kPropName);
    m_pfnOldProc = nullptr;
    m_hWnd = nullptr;
    m_bHover = 0;
    m_bPressed = 0;
}

void SkinnedButton::Repaint() {
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    InvalidateRect(m_hWnd, &rc, TRUE);
}

void SkinnedButton::TraceKey(WPARAM wParam, LPARAM lParam, const char* pszName) {
    char szLine[64];
    std::snprintf(szLine, sizeof(szLine), "wParam  is:%x Param is:%x",
                  static_cast<unsigned>(wParam), static_cast<unsigned>(lParam));
    Trace(szLine);
    if (wParam == VK_RETURN) Trace("Press Enter");
    Trace(pszName);
}

void SkinnedButton::OnMouseMove() {
    POINT pt;
    GetCursorPos(&pt);
    ScreenToClient(m_hWnd, &pt);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    // Right and bottom count as inside, as the face's last row and column do.
    bool bInside = pt.x >= rc.left && pt.x <= rc.right && pt.y >= rc.top && pt.y <= rc.bottom;
    if (!bInside) {
        m_bHover = 0;
        return;
    }
    m_bHover = 1;
    Repaint();
    TRACKMOUSEEVENT tme;
    tme.cbSize = sizeof(tme);
    tme.dwFlags = TME_LEAVE;
    tme.hwndTrack = m_hWnd;
    tme.dwHoverTime = 0;
    TrackMouseEvent(&tme);
}

void SkinnedButton::OnPaint() {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(m_hWnd, &ps);
    {
        fw::DcStateScope state(hdc);
        fw::GdiObject<HRGN> rgn(CreateRectRgn(0, 0, 0, 0));
        // Without a window region there is nothing to clip to but the paint area.
        if (GetWindowRgn(m_hWnd, rgn.Get()) != ERROR &&
            SelectClipRgn(hdc, rgn.Get()) == ERROR) {
            Trace("SelectClipRgn ERROR");
        }
        PaintFace(hdc);
    }
    EndPaint(m_hWnd, &ps);
}
