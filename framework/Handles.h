// Small owners for Win32 handles: one holder per handle kind, released in one place.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace fw {

// Closes a kernel handle; both NULL and INVALID_HANDLE_VALUE count as "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_h(h) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : m_h(o.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept { Reset(o.Release()); return *this; }

    bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }
    HANDLE Release() { HANDLE h = m_h; m_h = nullptr; return h; }
    void Reset(HANDLE h = nullptr) {
        if (IsValid()) CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h = nullptr;
};

class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET h) : m_h(h) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    bool IsValid() const { return m_h != nullptr; }
    HINTERNET Get() const { return m_h; }
    void Reset(HINTERNET h = nullptr) {
        if (m_h) InternetCloseHandle(m_h);
        m_h = h;
    }

private:
    HINTERNET m_h = nullptr;
};

// Deletes a GDI object (bitmap, font, pen, brush, region).
template <typename T>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(T h) : m_h(h) {}
    ~GdiObject() { Reset(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    bool IsValid() const { return m_h != nullptr; }
    T Get() const { return m_h; }
    T Release() { T h = m_h; m_h = nullptr; return h; }
    void Reset(T h = nullptr) {
        if (m_h) DeleteObject(m_h);
        m_h = h;
    }

private:
    T m_h = nullptr;
};

// A memory device context from CreateCompatibleDC.
class MemoryDc {
public:
    explicit MemoryDc(HDC compatible) : m_hdc(CreateCompatibleDC(compatible)) {}
    ~MemoryDc() { if (m_hdc) DeleteDC(m_hdc); }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;

    bool IsValid() const { return m_hdc != nullptr; }
    HDC Get() const { return m_hdc; }

private:
    HDC m_hdc;
};

// A window's device context from GetDC.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : m_hwnd(hwnd), m_hdc(GetDC(hwnd)) {}
    ~WindowDc() { if (m_hdc) ReleaseDC(m_hwnd, m_hdc); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC Get() const { return m_hdc; }

private:
    HWND m_hwnd;
    HDC m_hdc;
};

// Selects an object into a DC and puts the previous one back on scope exit.
class SelectScope {
public:
    SelectScope(HDC hdc, HGDIOBJ obj) : m_hdc(hdc), m_old(obj ? SelectObject(hdc, obj) : nullptr) {}
    ~SelectScope() { if (m_old) SelectObject(m_hdc, m_old); }
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;

private:
    HDC m_hdc;
    HGDIOBJ m_old;
};

// SaveDC on entry, RestoreDC on exit.
class DcStateScope {
public:
    explicit DcStateScope(HDC hdc) : m_hdc(hdc), m_nSaved(SaveDC(hdc)) {}
    ~DcStateScope() { if (m_nSaved) RestoreDC(m_hdc, m_nSaved); }
    DcStateScope(const DcStateScope&) = delete;
    DcStateScope& operator=(const DcStateScope&) = delete;

private:
    HDC m_hdc;
    int m_nSaved;
};

// Text colour and background mode, restored on scope exit.
class TextStyleScope {
public:
    TextStyleScope(HDC hdc, COLORREF color, int bkMode)
        : m_hdc(hdc), m_oldColor(SetTextColor(hdc, color)), m_oldMode(SetBkMode(hdc, bkMode)) {}
    ~TextStyleScope() {
        SetTextColor(m_hdc, m_oldColor);
        SetBkMode(m_hdc, m_oldMode);
    }
    TextStyleScope(const TextStyleScope&) = delete;
    TextStyleScope& operator=(const TextStyleScope&) = delete;

private:
    HDC m_hdc;
    COLORREF m_oldColor;
    int m_oldMode;
};

}  // namespace fw
