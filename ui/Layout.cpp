// Layout constants of the update window and the repaint areas derived from them.
#include "ui/Layout.h"

int g_nBarLeft = 18;
int g_nFileBarTop = 226;
int g_nTotalBarTop = 245;
int g_nStatusLeft = 22;
int g_nStatusTop = 210;
int g_nPercentLeft = 340;
int g_nCountsLeft = 22;
int g_nCountsTop = 263;
int g_nDoneLeft = 100;
int g_nDoneTop = 200;

RepaintArea FileBarArea() { return {g_nBarLeft, g_nFileBarTop - 14, 500, 28}; }
RepaintArea TotalBarArea() { return {g_nBarLeft, g_nTotalBarTop, 500, 14}; }
RepaintArea CountsArea() { return {g_nCountsLeft, g_nCountsTop, 500, 13}; }
RepaintArea StatusArea() { return {g_nStatusLeft, g_nStatusTop, 300, 13}; }
RepaintArea DoneArea() { return {g_nDoneLeft, g_nDoneTop, 200, 13}; }
RepaintArea DoneEmptyArea() { return {132, 400, 200, 13}; }

RepaintArea AreaRect(UpdateArea area) {
    switch (area) {
    case AREA_FILE_BAR: return FileBarArea();
    case AREA_TOTAL_BAR: return TotalBarArea();
    case AREA_COUNTS: return CountsArea();
    case AREA_STATUS: return StatusArea();
    case AREA_DONE: return DoneArea();
    case AREA_DONE_EMPTY: return DoneEmptyArea();
    }
    return StatusArea();
}

int BarWidth(int nProgress) {
    // 64-bit product: a progress value far outside 0..10000 must not overflow.
    long long w = static_cast<long long>(nProgress) * BAR_FULL_WIDTH / 10000;
    if (w < 0) return 0;
    if (w > BAR_FULL_WIDTH) return BAR_FULL_WIDTH;
    return static_cast<int>(w);
}
