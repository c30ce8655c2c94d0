// A font, a colour and a text, drawn transparently at a point.
#pragma once

#include <windows.h>

#include <string>

class TextPainter {
public:
    TextPainter();
    virtual ~TextPainter();
    TextPainter(const TextPainter&) = delete;
    TextPainter& operator=(const TextPainter&) = delete;

    // Height in pixels; replaces (and deletes) the previous font.
    void SetFont(const char* pszFace, int nHeight, BYTE nCharSet);
    void Draw(HDC hdc, int x, int y) const;

    LOGFONTA m_logFont;
    COLORREF m_crText = RGB(0, 0, 0);
    std::string m_strText;
    HFONT m_hFont = nullptr;
};
