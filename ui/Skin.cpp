// Loading and freeing the skin bitmaps of the update window.
#include "ui/Skin.h"

std::string g_strSkinDir = "UpdateRes\\";

HBITMAP g_skinBitmaps[SKIN_SLOT_COUNT];

namespace {

const char* const kSkinFiles[SKIN_USED_SLOTS] = {
    "Bar.bmp", "BackGround.bmp", "Bar2.bmp", "Btn1.bmp", "Btn2.bmp", "Btn3.bmp",
};

}  // namespace

void ClearSkin() {
    for (HBITMAP& hbm : g_skinBitmaps) hbm = nullptr;
}

void LoadSkin(HINSTANCE hInstance, const char* pszDir) {
    for (int i = 0; i < SKIN_USED_SLOTS; ++i) {
        std::string strPath = std::string(pszDir) + kSkinFiles[i];
        g_skinBitmaps[i] = static_cast<HBITMAP>(
            LoadImageA(hInstance, strPath.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    }
}

void FreeSkin() {
    for (HBITMAP& hbm : g_skinBitmaps) {
        if (hbm) DeleteObject(hbm);
        hbm = nullptr;
    }
}

bool GetSkinSize(int nSlot, SIZE* pSize) {
    if (nSlot < 0 || nSlot >= SKIN_SLOT_COUNT || !g_skinBitmaps[nSlot]) return false;
    BITMAP bm;
    if (GetObjectA(g_skinBitmaps[nSlot], sizeof(bm), &bm) != sizeof(bm)) return false;
    pSize->cx = bm.bmWidth;
    pSize->cy = bm.bmHeight;
    return true;
}
