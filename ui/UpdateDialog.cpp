// Initialisation, painting and dragging of the update window.
#include "ui/UpdateDialog.h"

#include "framework/Handles.h"
#include "res/Texts.h"
#include "res/resource.h"
#include "ui/Layout.h"
#include "ui/ProgressPainter.h"
#include "ui/ProgressText.h"
#include "ui/Skin.h"
#include "update/UpdateSession.h"

std::atomic<HWND> g_hUpdateWnd{nullptr};

void InvalidateArea(int nLeft, int nTop, int nWidth, int nHeight) {
    HWND hwnd = g_hUpdateWnd;
    if (!hwnd) return;
    RECT rc = {nLeft, nTop, nLeft + nWidth, nTop + nHeight};
    InvalidateRect(hwnd, &rc, TRUE);
}

UpdateDialog::UpdateDialog()
    : CDialog(IDD_UPDATE_DIALOG),
      m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN_ICON))) {}

// The button's Detach runs with the member's destructor, after the window.
UpdateDialog::~UpdateDialog() = default;

BOOL UpdateDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    ClearSkin();
    LoadSkin(GetModuleHandleA(nullptr), g_strSkinDir.c_str());
    FitToBackground();
    SetUpButton();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowTextA(m_hWnd, m_strTitle.c_str());
    StartUpdate();
    return TRUE;
}

void UpdateDialog::FitToBackground() {
    SIZE size;
    if (!GetSkinSize(SKIN_BACKGROUND, &size)) return;
    // The template's centring has placed the window; only its size changes.
    SetWindowPos(m_hWnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
}

void UpdateDialog::SetUpButton() {
    HWND hButton = GetDlgItem(m_hWnd, IDOK);
    if (!m_button.Attach(hButton)) return;
    m_button.SetBitmap(g_skinBitmaps[SKIN_BUTTON], true);
    if (g_skinBitmaps[SKIN_BUTTON_HOVER]) m_button.m_hbmHover = g_skinBitmaps[SKIN_BUTTON_HOVER];
    if (g_skinBitmaps[SKIN_BUTTON_DOWN]) m_button.m_hbmPressed = g_skinBitmaps[SKIN_BUTTON_DOWN];
    RECT rc;
    GetClientRect(hButton, &rc);
    SetWindowPos(hButton, nullptr, CLOSE_BUTTON_X, CLOSE_BUTTON_Y, rc.right - rc.left,
                 rc.bottom - rc.top, 0);
}

void UpdateDialog::StartUpdate() {
    char szProduct[PROGRESS_TEXT_SIZE];
    ParseProductName(m_strStartParam.c_str(), szProduct, sizeof(szProduct));
    m_textLarge.SetFont(TEXT_FONT_SONG, 12, DEFAULT_CHARSET);
    // Stored first, so the run's final post always has a target.
    g_hUpdateWnd = m_hWnd;
    g_updateSession.SetListener(this);
    // Without a usable row the run still starts, and ends like one whose
    // server can't be reached, so the player sees why.
    g_updateSession.Start(LoadUpdateSettings(szProduct, m_strStartParam));
}

void UpdateDialog::OnAreaChanged(UpdateArea area) {
    RepaintArea rc = AreaRect(area);
    InvalidateArea(rc.left, rc.top, rc.width, rc.height);
}

void UpdateDialog::OnRunEnded() {
    if (HWND hwnd = g_hUpdateWnd) PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
}

ProgressSnapshot UpdateDialog::CurrentProgress() const { return g_updateSession.Snapshot(); }

bool UpdateDialog::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) {
    switch (nMsg) {
    case WM_PAINT:
        OnPaint();
        *pResult = TRUE;
        return true;
    case WM_ERASEBKGND:
        // The background bitmap covers the whole face: erasing first only flickers.
        if (!g_skinBitmaps[SKIN_BACKGROUND]) return false;
        *pResult = TRUE;
        return true;
    case WM_MOUSEMOVE:
        OnMouseMove(wParam, lParam);
        return false;
    case WM_QUERYDRAGICON:
        *pResult = reinterpret_cast<INT_PTR>(m_hIcon);
        return true;
    case WM_COMMAND:
        // Closing: the run is called off at once, so that it ends while the
        // window goes away.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) g_updateSession.Cancel();
        return false;
    case WM_DESTROY:
        OnDestroy();
        return false;
    default:
        return false;
    }
}

void UpdateDialog::OnPaint() {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(m_hWnd, &ps);
    if (HBITMAP hbmBackground = g_skinBitmaps[SKIN_BACKGROUND]) {
        RECT rc;
        GetClientRect(m_hWnd, &rc);
        fw::MemoryDc memDc(hdc);
        fw::SelectScope select(memDc.Get(), hbmBackground);
        BitBlt(hdc, 0, 0, rc.right - rc.left, rc.bottom - rc.top, memDc.Get(), 0, 0, SRCCOPY);
    }
    DrawProgress(hdc, m_textLarge, CurrentProgress());
    EndPaint(m_hWnd, &ps);
}

void UpdateDialog::OnMouseMove(WPARAM nKeys, LPARAM lParam) {
    // No caption: a drag anywhere on the face moves the window.
    if (nKeys & MK_LBUTTON) SendMessageA(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
}

void UpdateDialog::OnDestroy() {
    // A run that still goes on must neither call into this object nor post to
    // a handle that may be reused.
    g_updateSession.SetListener(nullptr);
    g_hUpdateWnd = nullptr;
    FreeSkin();
}
