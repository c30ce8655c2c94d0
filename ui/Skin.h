// The skin table: the window's bitmaps, loaded from the skin folder.
#pragma once

#include <windows.h>

#include <string>

const int SKIN_SLOT_COUNT = 128;

// Slots in use, in the order the files are loaded.
enum SkinSlot {
    SKIN_FILE_BAR = 0,     // Bar.bmp: current-file bar
    SKIN_BACKGROUND = 1,   // BackGround.bmp: the whole face
    SKIN_TOTAL_BAR = 2,    // Bar2.bmp: total bar
    SKIN_BUTTON = 3,       // Btn1.bmp: close button, normal
    SKIN_BUTTON_HOVER = 4, // Btn2.bmp: close button under the mouse
    SKIN_BUTTON_DOWN = 5,  // Btn3.bmp: close button held down
    SKIN_USED_SLOTS = 6,
};

// Owned by the update window: filled at its start, freed at WM_DESTROY.
extern HBITMAP g_skinBitmaps[SKIN_SLOT_COUNT];
// Skin folder, relative to the program's folder ("UpdateRes\").
extern std::string g_strSkinDir;

// Empties every slot without deleting anything.
void ClearSkin();
// Loads the six files from pszDir + file name; a file that can't be loaded
// leaves its slot empty.
void LoadSkin(HINSTANCE hInstance, const char* pszDir);
// Deletes every loaded bitmap and empties its slot.
void FreeSkin();
// Width and height of a slot's bitmap; false for an empty slot.
bool GetSkinSize(int nSlot, SIZE* pSize);
