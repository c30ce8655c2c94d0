// The repaint areas derived from the layout constants.
#include "ui/Layout.h"

RepaintArea FileBarArea() { return {kBarLeft, kFileBarTop - 14, 500, 28}; }
RepaintArea TotalBarArea() { return {kBarLeft, kTotalBarTop, 500, 14}; }
RepaintArea CountsArea() { return {kCountsLeft, kCountsTop, 500, 13}; }
RepaintArea StatusArea() { return {kStatusLeft, kStatusTop, 300, 13}; }
RepaintArea DoneArea() { return {kDoneLeft, kDoneTop, 200, 13}; }
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
