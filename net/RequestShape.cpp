// How a request goes onto the wire; see RequestShape.h.
#include "net/RequestShape.h"

#include "framework/Mbcs.h"

namespace net {

const char* const kRevalidateHeaders = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";

namespace {

bool IsPlainUrlByte(unsigned char c) { return c > 0x20 && c < 0x7F && c != '%' && c != '#' && c != '?'; }

void AppendEncoded(std::string& strOut, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    strOut += '%';
    strOut += kHex[c >> 4];
    strOut += kHex[c & 15];
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string EncodeUrlPath(const std::string& strPath) {
    std::string strOut;
    strOut.reserve(strPath.size() * 3);
    for (size_t i = 0; i < strPath.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(strPath[i]);
        if (fw::IsLeadByte936(c) && i + 1 < strPath.size()) {
            AppendEncoded(strOut, c);
            AppendEncoded(strOut, static_cast<unsigned char>(strPath[++i]));
        } else if (IsPlainUrlByte(c)) {
            strOut += static_cast<char>(c);
        } else {
            AppendEncoded(strOut, c);
        }
    }
    return strOut;
}

std::string EncodeUtf8UrlPath(const std::string& strUtf8) {
    std::string strOut;
    strOut.reserve(strUtf8.size() * 3);
    for (char ch : strUtf8) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (IsPlainUrlByte(c))
            strOut += ch;
        else
            AppendEncoded(strOut, c);
    }
    return strOut;
}

std::string Utf8TwinAddress(const std::string& strAddress, GbkToUtf8Fn toUtf8) {
    const size_t nQuery = strAddress.find('?');
    const std::string strPath = DecodeUrlPath(strAddress.substr(0, nQuery));
    std::string strUtf8;
    if (!toUtf8(strPath, strUtf8) || strUtf8 == strPath) return std::string();
    return EncodeUtf8UrlPath(strUtf8) + (nQuery == std::string::npos ? std::string() : strAddress.substr(nQuery));
}

std::string DecodeUrlPath(const std::string& strEncoded) {
    std::string strOut;
    strOut.reserve(strEncoded.size());
    for (size_t i = 0; i < strEncoded.size(); ++i) {
        int nHigh = i + 2 < strEncoded.size() && strEncoded[i] == '%' ? HexValue(strEncoded[i + 1]) : -1;
        int nLow = nHigh >= 0 ? HexValue(strEncoded[i + 2]) : -1;
        if (nLow < 0) {
            strOut += strEncoded[i];
            continue;
        }
        strOut += static_cast<char>(nHigh * 16 + nLow);
        i += 2;
    }
    return strOut;
}

}  // namespace net
