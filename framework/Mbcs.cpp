// The lead-byte rule; see Mbcs.h.
#include "framework/Mbcs.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fw {

bool IsLeadByte(unsigned char c) {
#ifdef _WIN32
    // Asked of the system: under code page 1252 "Café" has no lead byte at all.
    return IsDBCSLeadByte(c) != FALSE;
#else
    return IsLeadByte936(c);
#endif
}

size_t FindLastChar(const char* psz, size_t nLen, char ch) {
    size_t found = static_cast<size_t>(-1);
    for (size_t i = 0; i < nLen; ++i) {
        if (IsLeadByte(static_cast<unsigned char>(psz[i])) && i + 1 < nLen) {
            ++i;
        } else if (psz[i] == ch) {
            found = i;
        }
    }
    return found;
}

#ifdef _WIN32
bool Gbk936ToUtf8(const std::string& strGbk, std::string& strUtf8) {
    const int nBytes = static_cast<int>(strGbk.size());
    const int nWide = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, strGbk.data(), nBytes, nullptr, 0);
    if (nWide <= 0) return false;
    std::wstring wide(static_cast<size_t>(nWide), L'\0');
    MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, strGbk.data(), nBytes, &wide[0], nWide);
    const int nUtf8 = WideCharToMultiByte(CP_UTF8, 0, wide.data(), nWide, nullptr, 0, nullptr, nullptr);
    if (nUtf8 <= 0) return false;
    strUtf8.assign(static_cast<size_t>(nUtf8), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), nWide, &strUtf8[0], nUtf8, nullptr, nullptr);
    return true;
}
#endif

}  // namespace fw
