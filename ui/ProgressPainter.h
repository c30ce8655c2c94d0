// Drawing of the two bars and the texts over the update window's background.
#pragma once

#include <windows.h>

#include <string>

#include "update/UpdateListener.h"

class TextPainter;


// Bars from skin slots 0 and 2, then labels, counts line, percentages and
// status, all with one painter. An empty bar slot draws no bar.
void DrawProgress(HDC hdc, TextPainter& painter, const ProgressSnapshot& snap);

// Copies the leftmost nWidth columns and the top 16 rows of a bar bitmap.
void DrawBar(HDC hdc, HBITMAP hbmBar, int x, int y, int nWidth);
