// Fixed layout of the update window, shared by the painter and by the code
// that asks for repaints from other threads. No Windows header: plain numbers.
#pragma once

#include "update/UpdateListener.h"

extern int g_nBarLeft;       // left edge of both bars
extern int g_nFileBarTop;    // top of the current-file bar
extern int g_nTotalBarTop;   // top of the total bar
extern int g_nStatusLeft;    // left of the status line
extern int g_nStatusTop;     // top of the status line
extern int g_nPercentLeft;   // left of both percentage texts
extern int g_nCountsLeft;    // left of the counts-and-speed line
extern int g_nCountsTop;     // top of the counts-and-speed line
extern int g_nDoneLeft;      // left of the end-of-run area
extern int g_nDoneTop;       // top of the end-of-run area

const int BAR_FULL_WIDTH = 372;
const int BAR_HEIGHT = 16;
const int CLOSE_BUTTON_X = 367;
const int CLOSE_BUTTON_Y = 10;
const int LABEL_FILE_Y = 380;
const int LABEL_TOTAL_Y = 400;

// A repaint area as left, top, width, height.
struct RepaintArea {
    int left;
    int top;
    int width;
    int height;
};

RepaintArea FileBarArea();      // current-file bar and its percentage
RepaintArea TotalBarArea();     // total bar
RepaintArea CountsArea();       // counts-and-speed line and total percentage
RepaintArea StatusArea();       // status line
RepaintArea DoneArea();         // end of a run that handled entries
RepaintArea DoneEmptyArea();    // end of a run whose work list was empty
RepaintArea AreaRect(UpdateArea area);

// Width in pixels of a bar showing nProgress ten-thousandths.
int BarWidth(int nProgress);
