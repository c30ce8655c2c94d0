// Draws one line of GBK text with a transparent background.
#include "ui/TextPainter.h"

#include <cstring>

#include "framework/Handles.h"

TextPainter::TextPainter() { std::memset(&m_logFont, 0, sizeof(m_logFont)); }

TextPainter::~TextPainter() {
    if (m_hFont) DeleteObject(m_hFont);
}

void TextPainter::SetFont(const char* pszFace, int nHeight, BYTE nCharSet) {
    std::memset(&m_logFont, 0, sizeof(m_logFont));
    m_logFont.lfHeight = -nHeight;
    m_logFont.lfWeight = FW_NORMAL;
    m_logFont.lfCharSet = nCharSet;
    m_logFont.lfOutPrecision = 0;
    m_logFont.lfQuality = ANTIALIASED_QUALITY;
    m_logFont.lfPitchAndFamily = 0;
    lstrcpynA(m_logFont.lfFaceName, pszFace, LF_FACESIZE);
    if (m_hFont) DeleteObject(m_hFont);
    m_hFont = CreateFontIndirectA(&m_logFont);
}

void TextPainter::Draw(HDC hdc, int x, int y) const {
    fw::TextStyleScope style(hdc, m_crText, TRANSPARENT);
    fw::SelectScope font(hdc, m_hFont);
    TextOutA(hdc, x, y, m_strText.data(), static_cast<int>(m_strText.size()));
}
