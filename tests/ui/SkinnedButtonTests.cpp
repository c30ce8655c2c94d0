// The skinned button on a real button window: region, faces, hover tracking.
#include <gtest/gtest.h>

#include <string>

#include "UiHelpers.h"
#include "ui/SkinnedButton.h"

namespace {

const COLORREF kNormal = RGB(200, 0, 0);
const COLORREF kHover = RGB(0, 200, 0);
const COLORREF kPressed = RGB(0, 0, 200);
const COLORREF kDisabled = RGB(90, 90, 90);

class SkinnedButtonTest : public ::testing::Test {
protected:
    // One parent for the whole suite: a top-level window costs seconds to
    // destroy under Wine without a window manager, a child button doesn't.
    static void SetUpTestSuite() {
        s_hParent = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, 100, 100,
                                    200, 100, nullptr, nullptr, nullptr, nullptr);
    }
    static void TearDownTestSuite() { DestroyWindow(s_hParent); }

    void SetUp() override {
        ASSERT_TRUE(s_hParent != nullptr);
        m_hParent = s_hParent;
        m_hButton = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10,
                                    10, 40, 30, m_hParent, reinterpret_cast<HMENU>(IDOK), nullptr,
                                    nullptr);
        ASSERT_TRUE(m_hButton != nullptr);
        static const COLORREF colours[] = {kNormal, kHover, kPressed, kDisabled};
        for (int i = 0; i < 4; ++i) m_faces[i] = MakeSolidBitmap(23, 23, colours[i]);
    }
    void TearDown() override {
        if (IsWindow(m_hButton)) DestroyWindow(m_hButton);
        for (HBITMAP hbm : m_faces) DeleteObject(hbm);
    }

    // The face as PaintFace composes it, sampled at the button's middle.
    COLORREF FaceColour(SkinnedButton& button) {
        Canvas canvas(60, 40, RGB(1, 2, 3));
        button.PaintFace(canvas.Dc());
        return canvas.Pixel(11, 11);
    }

    void PutCursor(bool bOverButton) {
        RECT rc;
        GetWindowRect(m_hButton, &rc);
        if (bOverButton) {
            SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        } else {
            SetCursorPos(rc.right + 100, rc.bottom + 100);
        }
    }

    static HWND s_hParent;
    HWND m_hParent = nullptr;
    HWND m_hButton = nullptr;
    HBITMAP m_faces[4] = {};
};

HWND SkinnedButtonTest::s_hParent = nullptr;

TEST_F(SkinnedButtonTest, AttachMakesAnOwnerDrawnRoundedButton) {
    SkinnedButton button;
    EXPECT_FALSE(button.Attach(nullptr));
    ASSERT_TRUE(button.Attach(m_hButton));
    EXPECT_EQ(&button, GetPropA(m_hButton, "CWINBUTTON"));
    EXPECT_EQ(BS_OWNERDRAW, GetWindowLongA(m_hButton, GWL_STYLE) & BS_TYPEMASK);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&SkinnedButton::SkinnedButtonProc),
              GetWindowLongPtrA(m_hButton, GWLP_WNDPROC));
    HRGN hrgn = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(m_hButton, hrgn));
    EXPECT_FALSE(PtInRegion(hrgn, 0, 0)) << "corners are rounded";
    EXPECT_TRUE(PtInRegion(hrgn, 20, 15));
    DeleteObject(hrgn);
}

TEST_F(SkinnedButtonTest, SetBitmapSizesTheButtonWithARectangularRegion) {
    SkinnedButton button;
    ASSERT_TRUE(button.Attach(m_hButton));
    ASSERT_TRUE(button.SetBitmap(m_faces[0], true));
    RECT rc;
    GetClientRect(m_hButton, &rc);
    EXPECT_EQ(23, rc.right);
    EXPECT_EQ(23, rc.bottom);
    HRGN hrgn = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(SIMPLEREGION, GetWindowRgn(m_hButton, hrgn));
    RECT rcBox;
    GetRgnBox(hrgn, &rcBox);
    EXPECT_EQ(0, rcBox.left);
    EXPECT_EQ(0, rcBox.top);
    EXPECT_EQ(23, rcBox.right);
    EXPECT_EQ(23, rcBox.bottom);
    DeleteObject(hrgn);
    EXPECT_EQ(kNormal, FaceColour(button));
    EXPECT_FALSE(button.SetBitmap(nullptr, true)) << "an empty bitmap changes nothing";
    EXPECT_EQ(m_faces[0], button.m_hbmNormal);
}

TEST_F(SkinnedButtonTest, FacesFollowTheMouseAndTheLeftButton) {
    enum Step { MoveIn, MoveOut, Leave, Down, Up };
    struct Case {
        const char* pszName;
        Step step;
        COLORREF crFace;  // with hover and pressed faces set
        COLORREF crBare;  // with only the normal face set
    } cases[] = {
        {"move onto the button", MoveIn, kHover, kNormal},
        {"press while over it", Down, kPressed, kNormal},
        {"release while over it", Up, kHover, kNormal},
        {"mouse leaves", Leave, kNormal, kNormal},
        {"move back on", MoveIn, kHover, kNormal},
        {"press", Down, kPressed, kNormal},
        {"drag out: still pressed", Leave, kPressed, kNormal},
        {"release outside", Up, kNormal, kNormal},
        {"move outside only", MoveOut, kNormal, kNormal},
    };
    for (bool bAllFaces : {true, false}) {
        SkinnedButton button;
        ASSERT_TRUE(button.Attach(m_hButton));
        ASSERT_TRUE(button.SetBitmap(m_faces[0], true));
        if (bAllFaces) {
            button.m_hbmHover = m_faces[1];
            button.m_hbmPressed = m_faces[2];
        }
        for (const Case& c : cases) {
            switch (c.step) {
            case MoveIn: PutCursor(true); SendMessageA(m_hButton, WM_MOUSEMOVE, 0, MAKELPARAM(11, 11)); break;
            case MoveOut: PutCursor(false); SendMessageA(m_hButton, WM_MOUSEMOVE, 0, MAKELPARAM(200, 200)); break;
            case Leave: PutCursor(false); SendMessageA(m_hButton, WM_MOUSELEAVE, 0, 0); break;
            case Down: SendMessageA(m_hButton, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(11, 11)); break;
            case Up: SendMessageA(m_hButton, WM_LBUTTONUP, 0, MAKELPARAM(11, 11)); break;
            }
            COLORREF crExpected = bAllFaces ? c.crFace : c.crBare;
            EXPECT_EQ(ColourText(crExpected), ColourText(FaceColour(button)))
                << c.pszName << (bAllFaces ? "" : " (normal face only)");
        }
        button.Detach();
    }
}

TEST_F(SkinnedButtonTest, DisabledButtonRefusesBitmapsAndShowsItsDisabledFace) {
    SkinnedButton button;
    ASSERT_TRUE(button.Attach(m_hButton));
    ASSERT_TRUE(button.SetBitmap(m_faces[0], true));
    EnableWindow(m_hButton, FALSE);  // sends WM_ENABLE 0
    EXPECT_FALSE(button.SetBitmap(m_faces[1], true));
    EXPECT_EQ(m_faces[0], button.m_hbmNormal);
    EXPECT_EQ(kNormal, FaceColour(button)) << "no disabled face: the normal one";
    button.m_hbmDisabled = m_faces[3];
    EXPECT_EQ(kDisabled, FaceColour(button));
    EnableWindow(m_hButton, TRUE);
    EXPECT_TRUE(button.SetBitmap(m_faces[1], false));
    EXPECT_EQ(kHover, FaceColour(button));
}

TEST_F(SkinnedButtonTest, PlainFaceIsAWhiteToBlueGreyGradient) {
    SkinnedButton button;
    ASSERT_TRUE(button.Attach(m_hButton));  // 40 x 30, no bitmap
    struct Case {
        bool bHover;
        COLORREF crLast;
    } cases[] = {{false, RGB(234, 234, 243)}, {true, RGB(240, 240, 243)}};
    const int cy = GetSystemMetrics(SM_CYEDGE);
    const int nInnerHeight = 30 - 2 * cy;
    for (const Case& c : cases) {
        button.m_bHover = c.bHover;
        Canvas canvas(40, 30, RGB(1, 2, 3));
        button.PaintFace(canvas.Dc());
        const char* pszCase = c.bHover ? "hover" : "normal";
        // Under the mouse the hot border covers the first rows.
        const int nFirst = c.bHover ? cy + 2 : cy;
        COLORREF crTop = canvas.Pixel(20, nFirst);
        EXPECT_GE(GetRValue(crTop), 250) << pszCase << ": " << ColourText(crTop);
        EXPECT_GE(GetBValue(crTop), 252) << pszCase << ": " << ColourText(crTop);
        // Brush 63 is reached where y * 63 / H passes 63 and stays to the end.
        EXPECT_EQ(ColourText(c.crLast), ColourText(canvas.Pixel(20, nInnerHeight))) << pszCase;
        for (int y = nFirst + 1; y <= nInnerHeight; ++y) {
            EXPECT_LE(GetRValue(canvas.Pixel(20, y)), GetRValue(canvas.Pixel(20, y - 1)))
                << pszCase << ", row " << y;
        }
        EXPECT_EQ(RGB(255, 255, 255), canvas.Pixel(20, 0)) << pszCase << ": white outline";
        COLORREF crLeftEdge = canvas.Pixel(GetSystemMetrics(SM_CXEDGE), 15);
        if (c.bHover) {
            EXPECT_EQ(ColourText(RGB(250, 196, 88)), ColourText(crLeftEdge)) << "hot border";
        } else {
            EXPECT_NE(RGB(250, 196, 88), crLeftEdge) << "no hot border";
        }
    }
}

TEST_F(SkinnedButtonTest, FacesWithoutRoomForAGradientStillPaint) {
    SetWindowPos(m_hButton, nullptr, 0, 0, 30, 3, SWP_NOMOVE | SWP_NOZORDER);
    SkinnedButton button;
    ASSERT_TRUE(button.Attach(m_hButton));
    SetWindowTextA(m_hButton, "x");
    Canvas canvas(30, 3, RGB(1, 2, 3));
    button.PaintFace(canvas.Dc());
    EXPECT_EQ(RGB(255, 255, 255), canvas.Pixel(4, 1)) << "outline fill, no gradient";
}

TEST_F(SkinnedButtonTest, CaptionIsDrawnOverTheFace) {
    SkinnedButton button;
    ASSERT_TRUE(button.Attach(m_hButton));
    ASSERT_TRUE(button.SetBitmap(m_faces[0], false));  // 40 x 30, red
    std::string strCaption(255, 'W');
    SetWindowTextA(m_hButton, strCaption.c_str());
    button.m_crCaption = RGB(255, 255, 0);
    Canvas canvas(40, 30, RGB(1, 2, 3));
    button.PaintFace(canvas.Dc());
    EXPECT_EQ(strCaption, button.m_szCaption);
    EXPECT_GT(canvas.Count({0, 0, 40, 30}, RGB(255, 255, 0)), 10);
}

TEST_F(SkinnedButtonTest, PaintMessageDrawsTheFaceOnTheWindow) {
    SkinnedButton button;
    ASSERT_TRUE(button.Attach(m_hButton));
    ASSERT_TRUE(button.SetBitmap(m_faces[0], true));
    RedrawWindow(m_hButton, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC hdc = GetDC(m_hButton);
    Canvas canvas(23, 23, RGB(1, 2, 3));
    BitBlt(canvas.Dc(), 0, 0, 23, 23, hdc, 0, 0, SRCCOPY);
    ReleaseDC(m_hButton, hdc);
    EXPECT_EQ(ColourText(kNormal), ColourText(canvas.Pixel(11, 11)));
    EXPECT_EQ(1, SendMessageA(m_hButton, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0));
}

TEST_F(SkinnedButtonTest, DetachAndDestroyUndoTheSubclassing) {
    LONG_PTR oldProc = GetWindowLongPtrA(m_hButton, GWLP_WNDPROC);
    {
        SkinnedButton button;
        ASSERT_TRUE(button.Attach(m_hButton));
        button.Detach();
        EXPECT_EQ(oldProc, GetWindowLongPtrA(m_hButton, GWLP_WNDPROC));
        EXPECT_EQ(nullptr, GetPropA(m_hButton, "CWINBUTTON"));
    }
    // The update window's order: the button window dies before the object.
    SkinnedButton button;
    ASSERT_TRUE(button.Attach(m_hButton));
    DestroyWindow(m_hButton);
    EXPECT_EQ(nullptr, button.m_hWnd);
    button.Detach();
    SendMessageA(m_hParent, WM_NULL, 0, 0);
}

}  // namespace
