// Folders along a listed path; see MakeFolders.h.
#include "update/MakeFolders.h"

#include <direct.h>

#include "framework/Mbcs.h"

namespace {
// Listed paths fit 260 bytes.
const size_t kPathCap = 260;
}  // namespace

void MakeDirectoryPath(const char* pszPath) {
    char szPath[kPathCap] = {};
    size_t n = 0;
    for (const char* p = pszPath; *p && n + 1 < sizeof(szPath); ++p) {
        // A double-byte character is copied whole: its trail byte may equal "\".
        if (fw::IsLeadByte(static_cast<unsigned char>(*p)) && p[1]) {
            if (n + 2 >= sizeof(szPath)) break;
            szPath[n++] = *p++;
            szPath[n++] = *p;
            continue;
        }
        if (*p == '\\' || *p == '/') {
            szPath[n] = '\0';
            _mkdir(szPath);
            szPath[n++] = '\\';
            continue;
        }
        szPath[n++] = *p;
    }
    szPath[n] = '\0';
    _mkdir(szPath);
}
