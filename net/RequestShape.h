// What every request of the client looks like on the wire: how a path goes
// into the request line and the headers that make a cache ask the origin.
// No Windows header: the publisher's site check asks exactly the same way.
#pragma once

#include <string>

namespace net {

// The path as a request line must carry it: bytes outside printable ASCII,
// blanks, "%", "#" and "?" percent-encoded, and both bytes of a GBK
// character, so that no trail byte is ever read as a separator. Strict
// servers refuse raw GBK bytes; every server decodes these to the same file.
std::string EncodeUrlPath(const std::string& strPath);

// For a body that changes under one address (the list, its signature): a
// cache must check with the origin before it answers. Pragma for HTTP/1.0
// caches. Each line ends in CRLF.
extern const char* const kRevalidateHeaders;

}  // namespace net
