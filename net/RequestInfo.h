// What the fetcher reads off a WinINet request (status, length, headers) and
// the guard that lets a request go on every way out of a transfer.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "net/AbortableRequest.h"

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

// Lets the transfer's request go on every way out. A request left before the
// end of its body is let go of on a thread of its own: Wine's WinINet reads
// whatever a fast server still sends before it closes, which from an endless
// body never ends.
class RequestCloser {
public:
    explicit RequestCloser(AbortableRequest& request) : m_request(request) {}
    ~RequestCloser() { m_request.Abandon(); }
    RequestCloser(const RequestCloser&) = delete;
    RequestCloser& operator=(const RequestCloser&) = delete;

private:
    AbortableRequest& m_request;
};

}  // namespace net
