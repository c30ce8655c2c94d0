// Names of a release folder as the client reads them: GBK bytes, walked by
// characters. On Linux release folders hold UTF-8 names (or GBK ones when the
// operator says so); on Windows the ANSI code page (936) gives GBK already.
#pragma once

#include <string>

enum class DiskNames {
    Native,  // UTF-8 on Linux, the ANSI code page on Windows
    Gbk,     // bytes taken as they are
};

// The GBK bytes of one name as it is on disk; false when GBK can't hold it
// (or the bytes aren't valid in the disk's encoding).
bool NameToGbk(const std::string& strDisk, DiskNames nNames, std::string& strGbk);

// A GBK path as the host's terminal shows it: UTF-8 on Linux (the bytes as
// they are when they don't convert), unchanged on Windows.
std::string GbkForDisplay(const std::string& strGbk);

// The UTF-8 spelling of a GBK name or path, for servers that take only UTF-8
// in a request; false where the bytes aren't GBK.
bool GbkToUtf8(const std::string& strGbk, std::string& strUtf8);

// Whether a double-byte character of the GBK name has c as its second byte.
bool GbkHasTrailByte(const std::string& strName, char c);
// Whether c occurs as a character of its own, never as a second byte.
bool GbkHasChar(const std::string& strName, char c);
// Whether the name is whole GBK characters: no lead byte cut off at its end.
bool GbkIsWhole(const std::string& strName);
