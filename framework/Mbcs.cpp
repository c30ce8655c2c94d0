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

}  // namespace fw
