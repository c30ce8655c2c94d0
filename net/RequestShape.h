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
// A UTF-8 path for the request line: every byte outside printable ASCII,
// blanks, "%", "#" and "?" percent-encoded on its own.
std::string EncodeUtf8UrlPath(const std::string& strUtf8);
// The bytes an encoded path stands for; a "%" without two hex digits stays.
std::string DecodeUrlPath(const std::string& strEncoded);
// An address (encoded path, then any query) with its GBK path spelled in
// UTF-8 instead, as servers that take only UTF-8 names have it (the
// publisher links that spelling to the file); "" where the spelling is the
// same or doesn't convert. toUtf8 converts GBK bytes.
using GbkToUtf8Fn = bool (*)(const std::string& strGbk, std::string& strUtf8);
std::string Utf8TwinAddress(const std::string& strAddress, GbkToUtf8Fn toUtf8);

// For a body that changes under one address (the list, its signature): a
// cache must check with the origin before it answers. Pragma for HTTP/1.0
// caches. Each line ends in CRLF.
extern const char* const kRevalidateHeaders;

}  // namespace net
