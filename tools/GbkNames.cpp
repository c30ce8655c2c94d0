// GBK conversion (iconv on POSIX) and character-wise walking of GBK names.
#include "tools/GbkNames.h"

#include "update/PathRules.h"

#ifndef _WIN32
#include <iconv.h>

#include <cerrno>
#include <vector>
#endif

namespace {

// Calls f(position, length) for each character: 2 bytes for a lead byte
// followed by another byte, else 1.
template <typename F>
void ForEachChar(const std::string& s, F f) {
    for (size_t i = 0; i < s.size();) {
        size_t n = fw::IsLeadByte936(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
        f(i, n);
        i += n;
    }
}

#ifndef _WIN32
// One conversion state per call keeps this usable from several threads.
// CP936 is the Windows code page itself (GBK with the euro sign at 0x80).
bool Convert(const char* pszTo, const char* pszFrom, const std::string& strIn, std::string& strOut) {
    iconv_t cd = iconv_open(pszTo, pszFrom);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> out(strIn.size() * 3 + 4);
    char* pIn = const_cast<char*>(strIn.data());
    size_t nIn = strIn.size();
    char* pOut = out.data();
    size_t nOut = out.size();
    size_t r = iconv(cd, &pIn, &nIn, &pOut, &nOut);
    bool bOk = r != static_cast<size_t>(-1) && nIn == 0 &&
               iconv(cd, nullptr, nullptr, &pOut, &nOut) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (bOk) strOut.assign(out.data(), static_cast<size_t>(pOut - out.data()));
    return bOk;
}
#endif

}  // namespace

bool NameToGbk(const std::string& strDisk, DiskNames nNames, std::string& strGbk) {
#ifndef _WIN32
    if (nNames == DiskNames::Native) return Convert("CP936", "UTF-8", strDisk, strGbk) && GbkIsWhole(strGbk);
#else
    (void)nNames;
#endif
    strGbk = strDisk;
    return GbkIsWhole(strGbk);
}

std::string GbkForDisplay(const std::string& strGbk) {
    std::string strShown;
#ifndef _WIN32
    if (Convert("UTF-8", "CP936", strGbk, strShown)) return strShown;
#endif
    return strGbk;
}

bool GbkToUtf8(const std::string& strGbk, std::string& strUtf8) {
#ifndef _WIN32
    return Convert("UTF-8", "CP936", strGbk, strUtf8);
#else
    return fw::Gbk936ToUtf8(strGbk, strUtf8);
#endif
}

bool GbkHasTrailByte(const std::string& strName, char c) {
    bool bFound = false;
    ForEachChar(strName, [&](size_t i, size_t n) { bFound |= n == 2 && strName[i + 1] == c; });
    return bFound;
}

bool GbkHasChar(const std::string& strName, char c) {
    bool bFound = false;
    ForEachChar(strName, [&](size_t i, size_t n) { bFound |= n == 1 && strName[i] == c; });
    return bFound;
}

bool GbkIsWhole(const std::string& strName) {
    bool bWhole = true;
    ForEachChar(strName, [&](size_t i, size_t n) {
        unsigned char c = static_cast<unsigned char>(strName[i + n - 1]);
        if (n == 1 && fw::IsLeadByte936(c)) bWhole = false;
        if (n == 2 && (c < 0x40 || c == 0x7F || c == 0xFF)) bWhole = false;
    });
    return bWhole;
}
