// The update window run modally from its real template, with skins written
// by the test, probed from a timer on the dialog's own thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "UiHelpers.h"
#include "ui/Layout.h"
#include "ui/Skin.h"
#include "ui/UpdateDialog.h"
#include "update/UpdateSession.h"

namespace {

const COLORREF kFace = RGB(120, 130, 140);
const COLORREF kFileBar = RGB(200, 0, 0);
const COLORREF kTotalBar = RGB(0, 0, 200);
const COLORREF kButton = RGB(0, 200, 0);
const UINT_PTR kProbeTimer = 1;
const UINT_PTR kSafetyTimer = 2;

// Runs a check once the dialog is up, then closes it the way the case says.
class ProbeDialog : public UpdateDialog {
public:
    std::function<void(ProbeDialog&)> m_probe;
    ProgressSnapshot m_progress;  // what the face shows
    bool m_bCaptionDrag = false;
    LPARAM m_nDragPoint = 0;

protected:
    BOOL OnInitDialog() override {
        BOOL bResult = UpdateDialog::OnInitDialog();
        SetTimer(m_hWnd, kProbeTimer, 50, nullptr);
        SetTimer(m_hWnd, kSafetyTimer, 10000, nullptr);  // a stuck case still ends
        return bResult;
    }
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) override {
        if (nMsg == WM_TIMER && wParam == kProbeTimer) {
            KillTimer(m_hWnd, kProbeTimer);
            if (m_probe) m_probe(*this);
            *pResult = TRUE;
            return true;
        }
        if (nMsg == WM_TIMER && wParam == kSafetyTimer) {
            PostMessageA(m_hWnd, WM_COMMAND, IDCANCEL, 0);
            *pResult = TRUE;
            return true;
        }
        if (nMsg == WM_NCLBUTTONDOWN) {
            // Recorded, not performed: the system's move loop would wait for the mouse.
            m_bCaptionDrag = wParam == HTCAPTION;
            m_nDragPoint = lParam;
            *pResult = TRUE;  // handled: no default processing
            return true;
        }
        return UpdateDialog::OnMessage(nMsg, wParam, lParam, pResult);
    }
    ProgressSnapshot CurrentProgress() const override { return m_progress; }
};

class UpdateDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CreateDirectoryA("skin400", nullptr);
        WriteSolidBmp("skin400\\BackGround.bmp", 400, 300, kFace);
        WriteSolidBmp("skin400\\Bar.bmp", 372, 16, kFileBar);
        WriteSolidBmp("skin400\\Bar2.bmp", 372, 16, kTotalBar);
        WriteSolidBmp("skin400\\Btn1.bmp", 23, 23, kButton);
        WriteSolidBmp("skin400\\Btn2.bmp", 23, 23, RGB(0, 0, 0));
        WriteSolidBmp("skin400\\Btn3.bmp", 23, 23, RGB(255, 255, 255));
    }
    void TearDown() override { g_strSkinDir = "UpdateRes\\"; }

    static INT_PTR Run(ProbeDialog& dialog, const char* pszSkinDir) {
        g_strSkinDir = pszSkinDir;
        dialog.m_strTitle = "probe window";
        return dialog.DoModal();
    }
};

RECT ButtonRect(HWND hDialog) {
    RECT rc;
    HWND hButton = GetDlgItem(hDialog, IDOK);
    GetWindowRect(hButton, &rc);
    MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

// What the window shows, copied from its own DC after a synchronous repaint.
void Snapshot(HWND hwnd, Canvas& canvas, int nWidth, int nHeight) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC hdc = GetDC(hwnd);
    BitBlt(canvas.Dc(), 0, 0, nWidth, nHeight, hdc, 0, 0, SRCCOPY);
    ReleaseDC(hwnd, hdc);
}

TEST_F(UpdateDialogTest, OpensSizedToItsBackgroundWithTheButtonTopRight) {
    ProbeDialog dialog;
    bool bProbed = false;
    dialog.m_probe = [&](ProbeDialog& d) {
        bProbed = true;
        HWND hwnd = d.m_hWnd;
        RECT rc;
        GetWindowRect(hwnd, &rc);
        EXPECT_EQ(400, rc.right - rc.left);
        EXPECT_EQ(300, rc.bottom - rc.top);
        RECT rcButton = ButtonRect(hwnd);
        EXPECT_EQ(CLOSE_BUTTON_X, rcButton.left);
        EXPECT_EQ(CLOSE_BUTTON_Y, rcButton.top);
        EXPECT_EQ(CLOSE_BUTTON_X + 23, rcButton.right);
        EXPECT_EQ(CLOSE_BUTTON_Y + 23, rcButton.bottom);
        EXPECT_EQ(g_skinBitmaps[SKIN_BUTTON_HOVER], d.m_button.m_hbmHover);
        EXPECT_EQ(g_skinBitmaps[SKIN_BUTTON_DOWN], d.m_button.m_hbmPressed);
        char szCaption[64] = {};
        GetWindowTextA(hwnd, szCaption, sizeof(szCaption));
        EXPECT_STREQ("probe window", szCaption);
        EXPECT_EQ(hwnd, g_hUpdateWnd.load());
        EXPECT_EQ(reinterpret_cast<LRESULT>(d.m_hIcon), SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0));
        EXPECT_EQ(reinterpret_cast<LRESULT>(d.m_hIcon), SendMessageA(hwnd, WM_QUERYDRAGICON, 0, 0));
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // as the run ends
    };
    EXPECT_EQ(IDOK, Run(dialog, "skin400\\"));
    EXPECT_TRUE(bProbed);
    for (int i = 0; i < SKIN_SLOT_COUNT; ++i) EXPECT_EQ(nullptr, g_skinBitmaps[i]) << "slot " << i;
}

TEST_F(UpdateDialogTest, PaintShowsBackgroundBarsAndButton) {
    ProbeDialog dialog;
    dialog.m_progress.nFileProgress = 5000;
    dialog.m_progress.nTotalProgress = 10000;
    dialog.m_probe = [](ProbeDialog& d) {
        Canvas canvas(400, 300, RGB(1, 2, 3));
        Snapshot(d.m_hWnd, canvas, 400, 300);
        int y = kFileBarTop + 8;
        EXPECT_EQ(ColourText(kFace), ColourText(canvas.Pixel(5, 5)));
        EXPECT_EQ(ColourText(kFileBar), ColourText(canvas.Pixel(kBarLeft + 185, y)));
        EXPECT_EQ(ColourText(kFace), ColourText(canvas.Pixel(kBarLeft + 186, y)));
        EXPECT_EQ(ColourText(kTotalBar), ColourText(canvas.Pixel(kBarLeft + 371, kTotalBarTop + 8)));
        EXPECT_EQ(ColourText(kButton), ColourText(canvas.Pixel(CLOSE_BUTTON_X + 11, CLOSE_BUTTON_Y + 11)));
        PostMessageA(d.m_hWnd, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(IDOK, Run(dialog, "skin400\\"));
}

TEST_F(UpdateDialogTest, ClosesWithOkOnClickOrEnterAndCancelOnEsc) {
    struct Case {
        const char* pszName;
        std::function<void(HWND hDialog, HWND hButton)> close;
        INT_PTR nExpected;
    } cases[] = {
        {"click on the button", [](HWND, HWND b) { PostMessageA(b, BM_CLICK, 0, 0); }, IDOK},
        {"Enter", [](HWND, HWND b) { PostMessageA(b, WM_KEYDOWN, VK_RETURN, 0x1C0001); }, IDOK},
        {"Esc", [](HWND, HWND b) { PostMessageA(b, WM_KEYDOWN, VK_ESCAPE, 0x10001); }, IDCANCEL},
        {"the run's post", [](HWND d, HWND) { PostMessageA(d, WM_COMMAND, IDOK, 0); }, IDOK},
    };
    for (const Case& c : cases) {
        ProbeDialog dialog;
        dialog.m_probe = [&](ProbeDialog& d) { c.close(d.m_hWnd, GetDlgItem(d.m_hWnd, IDOK)); };
        EXPECT_EQ(c.nExpected, Run(dialog, "skin400\\")) << c.pszName;
    }
}

TEST_F(UpdateDialogTest, DraggingTheFaceStartsACaptionMove) {
    ProbeDialog dialog;
    bool bPlainMoveDrags = true;
    dialog.m_probe = [&](ProbeDialog& d) {
        SendMessageA(d.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(50, 60));
        bPlainMoveDrags = d.m_bCaptionDrag;
        SendMessageA(d.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(50, 60));
        PostMessageA(d.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(IDCANCEL, Run(dialog, "skin400\\"));
    EXPECT_FALSE(bPlainMoveDrags) << "a move without the left button";
    EXPECT_TRUE(dialog.m_bCaptionDrag);
    EXPECT_EQ(MAKELPARAM(50, 60), dialog.m_nDragPoint);
}

TEST_F(UpdateDialogTest, WithoutSkinFilesTheWindowStillOpensAndPaints) {
    ProbeDialog dialog;
    dialog.m_probe = [](ProbeDialog& d) {
        RECT rc;
        GetClientRect(d.m_hWnd, &rc);
        EXPECT_GT(rc.right, 0);
        EXPECT_EQ(0, d.m_button.m_bHasBitmap) << "plain face";
        RECT rcButton = ButtonRect(d.m_hWnd);
        EXPECT_EQ(CLOSE_BUTTON_X, rcButton.left);
        EXPECT_EQ(CLOSE_BUTTON_Y, rcButton.top);
        Canvas canvas(rc.right, rc.bottom, RGB(1, 2, 3));
        Snapshot(d.m_hWnd, canvas, rc.right, rc.bottom);
        PostMessageA(d.m_hWnd, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(IDOK, Run(dialog, "no-such-skin\\"));
}

TEST_F(UpdateDialogTest, DefaultSkinFitsTheLayout) {
    const char* pszBin = std::getenv("SELFRENEW_BIN");
    ASSERT_TRUE(pszBin != nullptr);
    std::string strDir = std::string("Z:") + pszBin + "/UpdateRes/";
    for (char& ch : strDir) if (ch == '/') ch = '\\';
    ProbeDialog dialog;
    dialog.m_probe = [](ProbeDialog& d) {
        SIZE size;
        for (int nSlot : {SKIN_FILE_BAR, SKIN_TOTAL_BAR}) {
            ASSERT_TRUE(GetSkinSize(nSlot, &size)) << "slot " << nSlot;
            EXPECT_GE(size.cx, BAR_FULL_WIDTH) << "slot " << nSlot;
            EXPECT_GE(size.cy, BAR_HEIGHT) << "slot " << nSlot;
        }
        ASSERT_TRUE(GetSkinSize(SKIN_BACKGROUND, &size));
        RECT rc;
        GetClientRect(d.m_hWnd, &rc);
        EXPECT_EQ(size.cx, rc.right);
        EXPECT_EQ(size.cy, rc.bottom);
        RECT rcButton = ButtonRect(d.m_hWnd);
        EXPECT_EQ(CLOSE_BUTTON_X, rcButton.left);
        EXPECT_LE(rcButton.right, rc.right) << "button inside the face";
        EXPECT_LE(kBarLeft + BAR_FULL_WIDTH, rc.right) << "bars inside the face";
        EXPECT_LT(kCountsTop + 13, rc.bottom) << "counts line inside the face";
        PostMessageA(d.m_hWnd, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(IDOK, Run(dialog, strDir.c_str()));
}

}  // namespace
