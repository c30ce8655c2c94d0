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

}  // namespace net
