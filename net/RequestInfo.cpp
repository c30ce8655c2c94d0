// Reading a WinINet request's answer; see RequestInfo.h.
#include "net/RequestInfo.h"

#include <cstdlib>

#include "framework/SupportLog.h"
#include "net/TransferMath.h"

namespace net {

void DebugFetchError(const char* pszCall, DWORD dwError) {
    char szText[128];
    wsprintfA(szText, "GetFile: %s failed, error %lu", pszCall, dwError);
    fw::LogFailure(szText);
}

int QueryStatus(HINTERNET hRequest) {
    char szStatus[16] = {};
    DWORD nLength = sizeof(szStatus);
    if (!HttpQueryInfoA(hRequest, HTTP_QUERY_STATUS_CODE, szStatus, &nLength, nullptr)) {
        DebugFetchError("HttpQueryInfoA(status)", GetLastError());
        return 0;
    }
    return atoi(szStatus);
}

bool QueryContentLength(HINTERNET hRequest, uint64_t* pnLength) {
    char szText[32] = {};
    DWORD nLength = sizeof(szText);
    DWORD dwIndex = 0;
    return HttpQueryInfoA(hRequest, HTTP_QUERY_CONTENT_LENGTH, szText, &nLength, &dwIndex) &&
           ParseContentLength(szText, pnLength);
}

// The buffer carries the header's name in and its value out.
std::string QueryHeader(HINTERNET hRequest, const char* pszName) {
    char szText[256] = {};
    lstrcpynA(szText, pszName, sizeof(szText));
    DWORD nLength = sizeof(szText) - 1;
    DWORD dwIndex = 0;
    if (!HttpQueryInfoA(hRequest, HTTP_QUERY_CUSTOM, szText, &nLength, &dwIndex)) return std::string();
    return szText;
}

std::string QueryValidator(HINTERNET hRequest) {
    std::string strValidator = QueryHeader(hRequest, "ETag");
    return strValidator.empty() ? QueryHeader(hRequest, "Last-Modified") : strValidator;
}

}  // namespace net
