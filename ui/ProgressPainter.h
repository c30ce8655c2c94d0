// Drawing of the two bars and the texts over the update window's background.
#pragma once

#include <windows.h>

#include <string>

class TextPainter;
class UpdateSession;

// The numbers one paint shows, read once so the bars and texts agree.
struct ProgressSnapshot {
    int nFileProgress = 0;   // ten-thousandths
    int nTotalProgress = 0;  // ten-thousandths
    int nFileIndex = 0;
    int nFileCount = 0;
    unsigned long nSpeed = 0;     // bytes per second
    unsigned long nFileSize = 0;  // bytes
    std::string strStatus;
};

ProgressSnapshot TakeProgressSnapshot(const UpdateSession& session);

// Bars from skin slots 0 and 2, then labels, counts line, percentages and
// status, all with one painter. An empty bar slot draws no bar.
void DrawProgress(HDC hdc, TextPainter& painter, const ProgressSnapshot& snap);
void DrawProgress(HDC hdc, UpdateSession& session);

// Copies the leftmost nWidth columns and the top 16 rows of a bar bitmap.
void DrawBar(HDC hdc, HBITMAP hbmBar, int x, int y, int nWidth);
