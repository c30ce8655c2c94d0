// Multibyte-aware searches and the safety rule for listed paths.
#include "update/PathRules.h"

#include <cstring>
#include <vector>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Splits at separators, stepping over double-byte characters.
std::vector<std::string> SplitMbcs(const std::string& s) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (fw::IsLeadByte(c) && i + 1 < s.size()) {
            parts.back() += s[i];
            parts.back() += s[++i];
        } else if (IsSeparator(s[i])) {
            parts.emplace_back();
        } else {
            parts.back() += s[i];
        }
    }
    return parts;
}

// Splits at every separator byte, as a system with a single-byte code page
// would read the same bytes.
std::vector<std::string> SplitBytes(const std::string& s) {
    std::vector<std::string> parts(1);
    for (char c : s) {
        if (IsSeparator(c)) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

// "." and ".." and what the platform trims to them ("...", ". .").
bool IsDotsOnly(const std::string& s) {
    return !s.empty() && s.find_first_not_of(". ") == std::string::npos && s.find('.') != std::string::npos;
}

// CON, NUL, COM1 and the like open a device, whatever folder precedes them.
bool IsDeviceName(const std::string& s) {
    std::string base = FoldCaseAZ(s.substr(0, s.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* d : kDevices)
        if (base == d) return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool HasForbiddenByte(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == ':') return true;
    return false;
}

// Windows drops trailing dots and blanks: "selfrenew.exe." or "UpdateINI "
// would reach the very file or folder that the skip rules protect.
bool EndsInDotOrBlank(const std::string& s) {
    return !s.empty() && (s.back() == '.' || s.back() == ' ');
}

bool IsPlainComponent(const std::string& s) {
    return !s.empty() && !IsDotsOnly(s) && !IsDeviceName(s) && !EndsInDotOrBlank(s);
}

// Both readings of the bytes must stay inside: the GBK one the program
// normally sees, and the single-byte one of a system with another code page.
bool ComponentsStayInside(const std::string& s) {
    for (const std::string& part : SplitMbcs(s))
        if (!IsPlainComponent(part)) return false;
    for (const std::string& part : SplitBytes(s))
        if (IsDotsOnly(part) || IsDeviceName(part)) return false;
    return true;
}

}  // namespace

size_t MbcsFindLast(const char* psz, size_t nLen, char ch) {
    size_t found = fw::FindLastChar(psz, nLen, ch);
    return found == static_cast<size_t>(-1) ? std::string::npos : found;
}

bool MbcsContains(const std::string& s, char ch) {
    return MbcsFindLast(s, ch) != std::string::npos;
}

std::string FoldCaseAZ(const std::string& s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string LocalPathKey(const std::string& strPath) {
    // "/" (0x2F) is never a trail byte, so replacing it byte by byte is safe.
    std::string key = FoldCaseAZ(strPath);
    for (char& c : key)
        if (c == '/') c = '\\';
    return key;
}

bool EqualsNoCaseAZ(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool IsSafeListDir(const std::string& strDir) {
    if (strDir == "/" || strDir == "\\") return true;
    // A leading separator also covers rooted and UNC paths; no colon rules out drives and streams.
    if (strDir.empty() || IsSeparator(strDir[0]) || HasForbiddenByte(strDir)) return false;
    return ComponentsStayInside(strDir);
}

bool IsSafeListName(const std::string& strName) {
    if (strName.empty() || HasForbiddenByte(strName)) return false;
    if (SplitMbcs(strName).size() != 1) return false;
    return ComponentsStayInside(strName);
}

bool IsSkippedEntry(const std::string& strDir, const std::string& strName) {
    static const std::string kListFolder = "updateini";
    std::string strFolded = FoldCaseAZ(strDir);
    if (strFolded.compare(0, kListFolder.size(), kListFolder) == 0 &&
        (strFolded.size() == kListFolder.size() || IsSeparator(strFolded[kListFolder.size()])))
        return true;
    if (EqualsNoCaseAZ(strName, "winmm.dll")) return true;
    return (strDir == "/" || strDir == "\\") && EqualsNoCaseAZ(strName, "selfrenew.kro");
}
