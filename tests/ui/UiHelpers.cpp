// Test helpers that read pixels straight from a DIB section.
#include "UiHelpers.h"

#include <cstdio>
#include <vector>

namespace {

HBITMAP MakeDib(int nWidth, int nHeight, void** ppBits) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = nWidth;
    bi.bmiHeader.biHeight = -nHeight;  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, ppBits, nullptr, 0);
}

DWORD ToDibPixel(COLORREF cr) {
    return (static_cast<DWORD>(GetRValue(cr)) << 16) | (GetGValue(cr) << 8) | GetBValue(cr);
}

}  // namespace

HBITMAP MakeSolidBitmap(int nWidth, int nHeight, COLORREF cr) {
    void* pBits = nullptr;
    HBITMAP hbm = MakeDib(nWidth, nHeight, &pBits);
    if (!hbm) return nullptr;
    DWORD* p = static_cast<DWORD*>(pBits);
    for (int i = 0; i < nWidth * nHeight; ++i) p[i] = ToDibPixel(cr);
    return hbm;
}

bool WriteSolidBmp(const std::string& strPath, int nWidth, int nHeight, COLORREF cr) {
    int nRow = (nWidth * 3 + 3) & ~3;
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(ih);
    fh.bfSize = fh.bfOffBits + nRow * nHeight;
    ih.biSize = sizeof(ih);
    ih.biWidth = nWidth;
    ih.biHeight = nHeight;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    std::vector<unsigned char> row(nRow, 0);
    for (int x = 0; x < nWidth; ++x) {
        row[x * 3] = GetBValue(cr);
        row[x * 3 + 1] = GetGValue(cr);
        row[x * 3 + 2] = GetRValue(cr);
    }
    FILE* f = std::fopen(strPath.c_str(), "wb");
    if (!f) return false;
    bool bOk = std::fwrite(&fh, sizeof(fh), 1, f) == 1 && std::fwrite(&ih, sizeof(ih), 1, f) == 1;
    for (int y = 0; bOk && y < nHeight; ++y) bOk = std::fwrite(row.data(), nRow, 1, f) == 1;
    return std::fclose(f) == 0 && bOk;
}

Canvas::Canvas(int nWidth, int nHeight, COLORREF crFill)
    : m_nWidth(nWidth), m_nHeight(nHeight), m_hdc(CreateCompatibleDC(nullptr)) {
    void* pBits = nullptr;
    m_hbm = MakeDib(nWidth, nHeight, &pBits);
    m_pBits = static_cast<const DWORD*>(pBits);
    m_hOld = SelectObject(m_hdc, m_hbm);
    DWORD* p = static_cast<DWORD*>(pBits);
    for (int i = 0; p && i < nWidth * nHeight; ++i) p[i] = ToDibPixel(crFill);
}

Canvas::~Canvas() {
    SelectObject(m_hdc, m_hOld);
    DeleteObject(m_hbm);
    DeleteDC(m_hdc);
}

COLORREF Canvas::Pixel(int x, int y) const {
    if (!m_pBits || x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight) return CLR_INVALID;
    GdiFlush();
    DWORD v = m_pBits[y * m_nWidth + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

int Canvas::Count(const RECT& rc, COLORREF cr) const {
    int n = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x) n += Pixel(x, y) == cr;
    return n;
}

int Canvas::CountOther(const RECT& rc, COLORREF cr) const {
    return (rc.right - rc.left) * (rc.bottom - rc.top) - Count(rc, cr);
}

std::string ColourText(COLORREF cr) {
    char sz[32];
    std::snprintf(sz, sizeof(sz), "RGB(%d, %d, %d)", GetRValue(cr), GetGValue(cr), GetBValue(cr));
    return sz;
}
