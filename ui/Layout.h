// Fixed layout of the update window, shared by the painter and by the code
// that asks for repaints from other threads. No Windows header: plain numbers.
#pragma once

#include "update/UpdateListener.h"

const int kBarLeft = 18;          // left edge of both bars
const int kFileBarTop = 226;      // top of the current-file bar
const int kTotalBarTop = 245;     // top of the total bar
const int kStatusLeft = 22;       // left of the status line
const int kStatusTop = 210;       // top of the status line
const int kPercentLeft = 340;     // left of both percentage texts
const int kCountsLeft = 22;       // left of the counts-and-speed line
const int kCountsTop = 263;       // top of the counts-and-speed line
const int kDoneLeft = 100;        // left of the end-of-run area
const int kDoneTop = 200;         // top of the end-of-run area

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
