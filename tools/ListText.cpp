// The client's line reader over a list held in memory.
#include "tools/ListText.h"

#include "update/PathRules.h"

void ParseFileListText(const std::string& strText, std::vector<FileEntry>& entries) {
    // A byte-order mark some editors put before the first line.
    size_t nStart = strText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (bool bFirst = true; nStart < strText.size(); bFirst = false) {
        size_t nEnd = strText.find_first_of("\r\n", nStart);
        if (nEnd == std::string::npos) nEnd = strText.size();
        FileEntry e;
        if (ParseListLine(strText.data() + nStart, nEnd - nStart, bFirst, e) && IsSafeEntry(e.m_strDir, e.m_strName))
            entries.push_back(e);
        nStart = nEnd + 1;
    }
}
