// What a transfer reads off a WinINet request: status, length, headers.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

namespace net {

// "GetFile: <call> failed, error <n>" to the debugger.
void DebugFetchError(const char* pszCall, DWORD dwError);
// The status code, 0 when it can't be read.
int QueryStatus(HINTERNET hRequest);
// The Content-Length; false without a readable one.
bool QueryContentLength(HINTERNET hRequest, uint64_t* pnLength);
// A header by its name, "" when absent or longer than 255 bytes.
std::string QueryHeader(HINTERNET hRequest, const char* pszName);
// What a later request must match to continue this body: ETag, else Last-Modified.
std::string QueryValidator(HINTERNET hRequest);

}  // namespace net
