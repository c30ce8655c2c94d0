// Double-byte characters of the ANSI code page, the one rule every path walk
// of the program uses. No Windows header in the interface: the list rules and
// the publisher also build natively, where the rule is code page 936 (GBK).
#pragma once

#include <cstddef>
#include <string>

namespace fw {

// Whether c starts a double-byte character in the ANSI code page.
bool IsLeadByte(unsigned char c);

// The lead-byte rule of code page 936, whatever the system's code page is.
inline bool IsLeadByte936(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Position of the last single-byte ch in the first nLen bytes of psz,
// stepping over double-byte characters; (size_t)-1 when there is none.
size_t FindLastChar(const char* psz, size_t nLen, char ch);

#ifdef _WIN32
// GBK (code page 936) bytes as UTF-8; false where they aren't GBK.
bool Gbk936ToUtf8(const std::string& strGbk, std::string& strUtf8);
#endif

}  // namespace fw
