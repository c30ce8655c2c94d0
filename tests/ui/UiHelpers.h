// Bitmaps, BMP files and a readable memory canvas for the window tests.
#pragma once

#include <windows.h>

#include <string>

// A 32-bit DIB of one colour; the caller deletes it.
HBITMAP MakeSolidBitmap(int nWidth, int nHeight, COLORREF cr);
// Writes a 24-bit BMP file of one colour, as a skin file would be.
bool WriteSolidBmp(const std::string& strPath, int nWidth, int nHeight, COLORREF cr);

// A memory DC with a 32-bit DIB selected, so drawing lands in readable pixels.
class Canvas {
public:
    Canvas(int nWidth, int nHeight, COLORREF crFill);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_hdc; }
    COLORREF Pixel(int x, int y) const;
    // Pixels of rc (left, top, right, bottom exclusive) that differ from cr.
    int CountOther(const RECT& rc, COLORREF cr) const;
    // Pixels of rc equal to cr.
    int Count(const RECT& rc, COLORREF cr) const;

private:
    int m_nWidth;
    int m_nHeight;
    HDC m_hdc;
    HBITMAP m_hbm;
    HGDIOBJ m_hOld;
    const DWORD* m_pBits = nullptr;
};

std::string ColourText(COLORREF cr);
