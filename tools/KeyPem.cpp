// Just enough DER for P-256 keys: fixed encodings out, a bounded TLV reader in.
#include "tools/KeyPem.h"

#include <cstring>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

const unsigned char OID_EC_PUBLIC_KEY[] = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
const unsigned char OID_P256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const char* const BASE64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void Append(Bytes& out, const unsigned char* p, size_t n) {
    size_t nOld = out.size();
    out.resize(nOld + n);
    if (n) memcpy(out.data() + nOld, p, n);
}

// Short-form and one- or two-byte long-form lengths cover every key here.
void AppendTlv(Bytes& out, unsigned char tag, const Bytes& content) {
    out.push_back(tag);
    size_t n = content.size();
    if (n >= 0x100) out.insert(out.end(), {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
    else if (n >= 0x80) out.insert(out.end(), {0x81, static_cast<unsigned char>(n)});
    else out.push_back(static_cast<unsigned char>(n));
    Append(out, content.data(), n);
}

Bytes AlgorithmId() {
    Bytes ids;
    Append(ids, OID_EC_PUBLIC_KEY, sizeof OID_EC_PUBLIC_KEY);
    Append(ids, OID_P256, sizeof OID_P256);
    Bytes out;
    AppendTlv(out, 0x30, ids);
    return out;
}

Bytes PointBits(const unsigned char xy[KEY_PUBLIC_BYTES]) {
    Bytes bits = {0x00, 0x04};  // no unused bits; an uncompressed point
    Append(bits, xy, KEY_PUBLIC_BYTES);
    return bits;
}

std::string Base64Lines(const Bytes& der) {
    std::string s;
    for (size_t i = 0; i < der.size(); i += 3) {
        unsigned v = der[i] << 16 | (i + 1 < der.size() ? der[i + 1] << 8 : 0) | (i + 2 < der.size() ? der[i + 2] : 0);
        for (size_t k = 0; k < 4; ++k) s += (i + k <= der.size()) ? BASE64[(v >> (18 - 6 * k)) & 63] : '=';
        if ((i / 3 + 1) % 16 == 0 && i + 3 < der.size()) s += '\n';
    }
    return s + "\n";
}

std::string Armor(const char* pszLabel, const Bytes& der) {
    return std::string("-----BEGIN ") + pszLabel + "-----\n" + Base64Lines(der) + "-----END " + pszLabel + "-----\n";
}

// The DER between the armor lines of a label; false when absent or not base64.
bool Unarmor(const std::string& strPem, const char* pszLabel, Bytes& der) {
    std::string strBegin = std::string("-----BEGIN ") + pszLabel + "-----";
    std::string strEnd = std::string("-----END ") + pszLabel + "-----";
    size_t nBegin = strPem.find(strBegin);
    if (nBegin == std::string::npos) return false;
    nBegin += strBegin.size();
    size_t nEnd = strPem.find(strEnd, nBegin);
    if (nEnd == std::string::npos) return false;
    unsigned v = 0, nBits = 0;
    bool bPadding = false;
    for (size_t i = nBegin; i < nEnd; ++i) {
        char c = strPem[i];
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        if (c == '=') { bPadding = true; continue; }
        const char* p = strchr(BASE64, c);
        if (!p || c == '\0' || bPadding) return false;
        v = (v << 6) | static_cast<unsigned>(p - BASE64);
        nBits += 6;
        if (nBits >= 8) {
            nBits -= 8;
            der.push_back(static_cast<unsigned char>(v >> nBits));
        }
    }
    return true;
}

// One TLV at a time, never reading past the end it was given.
struct DerReader {
    const unsigned char* p;
    size_t n;

    bool Next(unsigned char tag, DerReader& content) {
        if (n < 2 || p[0] != tag) return false;
        size_t nLen = p[1], nHead = 2;
        if (nLen == 0x81 || nLen == 0x82) {
            size_t nBytes = nLen - 0x80;
            if (n < 2 + nBytes) return false;
            nLen = nBytes == 1 ? p[2] : (static_cast<size_t>(p[2]) << 8 | p[3]);
            nHead += nBytes;
        } else if (nLen >= 0x80) {
            return false;
        }
        if (n - nHead < nLen) return false;
        content = DerReader{p + nHead, nLen};
        p += nHead + nLen;
        n -= nHead + nLen;
        return true;
    }
    bool Peek(unsigned char tag) const { return n > 0 && p[0] == tag; }
    bool Equals(const unsigned char* q, size_t nq) const { return n == nq && memcmp(p, q, nq) == 0; }
};

bool ReadPoint(DerReader bits, unsigned char xy[KEY_PUBLIC_BYTES]) {
    if (bits.n != 2 + KEY_PUBLIC_BYTES || bits.p[0] != 0x00 || bits.p[1] != 0x04) return false;
    memcpy(xy, bits.p + 2, KEY_PUBLIC_BYTES);
    return true;
}

bool ReadAlgorithm(DerReader& r) {
    DerReader alg;
    if (!r.Next(0x30, alg)) return false;
    Bytes expected = AlgorithmId();
    return alg.n + 2 == expected.size() && memcmp(alg.p, expected.data() + 2, alg.n) == 0;
}

// ECPrivateKey: version 1, d, optional [0] curve, [1] public point.
bool ReadEcPrivateKey(DerReader der, unsigned char d[KEY_PRIVATE_BYTES], unsigned char xy[KEY_PUBLIC_BYTES],
                      std::string& strWhy) {
    static const unsigned char kVersion1[] = {0x01};
    DerReader seq, version, key, tagged, inner;
    if (!der.Next(0x30, seq) || !seq.Next(0x02, version) || !version.Equals(kVersion1, 1) ||
        !seq.Next(0x04, key) || key.n == 0 || key.n > KEY_PRIVATE_BYTES) {
        strWhy = "not an EC private key";
        return false;
    }
    memset(d, 0, KEY_PRIVATE_BYTES);
    memcpy(d + KEY_PRIVATE_BYTES - key.n, key.p, key.n);
    if (seq.Peek(0xA0) && (!seq.Next(0xA0, tagged) || !tagged.Equals(OID_P256, sizeof OID_P256))) {
        strWhy = "the key is not on the P-256 curve";
        return false;
    }
    if (!seq.Next(0xA1, tagged) || !tagged.Next(0x03, inner) || !ReadPoint(inner, xy)) {
        strWhy = "the private key carries no public point";
        return false;
    }
    return true;
}

}  // namespace

std::string PrivateKeyPem(const unsigned char d[KEY_PRIVATE_BYTES], const unsigned char xy[KEY_PUBLIC_BYTES]) {
    Bytes ec = {0x02, 0x01, 0x01}, dBytes(d, d + KEY_PRIVATE_BYTES), point, inner, wrapped;
    AppendTlv(ec, 0x04, dBytes);
    AppendTlv(point, 0x03, PointBits(xy));
    AppendTlv(ec, 0xA1, point);
    AppendTlv(inner, 0x30, ec);
    Bytes body = {0x02, 0x01, 0x00};
    Bytes alg = AlgorithmId();
    Append(body, alg.data(), alg.size());
    AppendTlv(body, 0x04, inner);
    AppendTlv(wrapped, 0x30, body);
    return Armor("PRIVATE KEY", wrapped);
}

std::string PublicKeyPem(const unsigned char xy[KEY_PUBLIC_BYTES]) {
    Bytes body = AlgorithmId(), spki;
    AppendTlv(body, 0x03, PointBits(xy));
    AppendTlv(spki, 0x30, body);
    return Armor("PUBLIC KEY", spki);
}

bool ReadPrivateKeyPem(const std::string& strPem, unsigned char d[KEY_PRIVATE_BYTES],
                       unsigned char xy[KEY_PUBLIC_BYTES], std::string& strWhy) {
    Bytes der;
    if (Unarmor(strPem, "EC PRIVATE KEY", der)) return ReadEcPrivateKey(DerReader{der.data(), der.size()}, d, xy, strWhy);
    if (!Unarmor(strPem, "PRIVATE KEY", der)) {
        strWhy = "no unencrypted PEM private key (PRIVATE KEY or EC PRIVATE KEY)";
        return false;
    }
    static const unsigned char kVersion0[] = {0x00};
    DerReader r{der.data(), der.size()}, seq, version, octets;
    if (!r.Next(0x30, seq) || !seq.Next(0x02, version) || !version.Equals(kVersion0, 1) || !ReadAlgorithm(seq) ||
        !seq.Next(0x04, octets)) {
        strWhy = "not a P-256 ECDSA private key";
        return false;
    }
    return ReadEcPrivateKey(octets, d, xy, strWhy);
}

bool ReadPublicKeyPem(const std::string& strPem, unsigned char xy[KEY_PUBLIC_BYTES], std::string& strWhy) {
    Bytes der;
    DerReader r{nullptr, 0}, seq, bits;
    if (Unarmor(strPem, "PUBLIC KEY", der)) r = DerReader{der.data(), der.size()};
    if (!r.Next(0x30, seq) || !ReadAlgorithm(seq) || !seq.Next(0x03, bits) || !ReadPoint(bits, xy)) {
        strWhy = "not a P-256 public key in PEM (PUBLIC KEY)";
        return false;
    }
    return true;
}
