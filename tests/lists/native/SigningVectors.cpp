// Test vectors for the client's CNG verifier, judged by OpenSSL, and the
// check of signatures CNG made. Run by ctest around signing_tests:
//   signing_vectors make <dir>    writes <dir>/private.pem and <dir>/vectors.txt
//   signing_vectors check <dir>   verifies every line of <dir>/cng.txt
// A line: <case> [<expected 0|1>] <key hex> <message hex or -> <signature hex>.
#include <openssl/bn.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/KeyPem.h"
#include "tools/Signing.h"
#include "update/Manifest.h"

namespace {

const char* const P256_ORDER = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";

struct Vector {
    std::string m_strName;
    bool m_bValid;
    unsigned char m_key[64];
    std::string m_strMessage;
    unsigned char m_sig[64];
};

std::string Hex(const std::string& s) {
    return s.empty() ? "-" : ToHex(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

// n - s: the other valid signature of the same message; CNG and OpenSSL both take it.
void NegateS(unsigned char sig[64]) {
    BIGNUM *n = nullptr, *s = BN_bin2bn(sig + 32, 32, nullptr);
    BN_hex2bn(&n, P256_ORDER);
    BN_sub(s, n, s);
    BN_bn2binpad(s, sig + 32, 32);
    BN_free(n);
    BN_free(s);
}

bool Make(const std::string& strDir) {
    std::string strPrivate, strPublic, strOtherPrivate, strOtherPublic, strError;
    unsigned char xy[64], xyOther[64];
    std::string strLong(10000, 'L');
    if (!CreateKeyPairPem(strPrivate, strPublic, strError) ||
        !CreateKeyPairPem(strOtherPrivate, strOtherPublic, strError) ||
        !ReadPublicKeyPem(strPublic, xy, strError) || !ReadPublicKeyPem(strOtherPublic, xyOther, strError)) {
        fprintf(stderr, "signing_vectors: %s\n", strError.c_str());
        return false;
    }
    std::vector<Vector> v;
    auto add = [&](const char* pszName, bool bValid, const std::string& strSignedKey, const std::string& strSigned,
                   const std::string& strMessage) {
        Vector x{pszName, bValid, {}, strMessage, {}};
        unsigned char xySigner[64];
        SignMessagePem(strSignedKey, strSigned.data(), strSigned.size(), x.m_sig, xySigner, strError);
        memcpy(x.m_key, xy, 64);
        v.push_back(x);
        return &v.back();
    };
    add("valid", true, strPrivate, "abc", "abc");
    add("valid-empty-message", true, strPrivate, "", "");
    add("valid-long-message", true, strPrivate, strLong, strLong);
    add("message-changed", false, strPrivate, "abc", "abd");
    add("other-key", false, strOtherPrivate, "abc", "abc");
    add("r-changed", false, strPrivate, "abc", "abc")->m_sig[5] ^= 0x01;
    add("s-changed", false, strPrivate, "abc", "abc")->m_sig[63] ^= 0x80;
    NegateS(add("high-s", true, strPrivate, "abc", "abc")->m_sig);
    memset(add("r-zero", false, strPrivate, "abc", "abc")->m_sig, 0, 32);
    memset(add("s-zero", false, strPrivate, "abc", "abc")->m_sig + 32, 0, 32);
    FromHex(P256_ORDER, add("r-is-order", false, strPrivate, "abc", "abc")->m_sig, 32);
    memset(add("all-ff", false, strPrivate, "abc", "abc")->m_sig, 0xFF, 64);
    add("key-off-curve", false, strPrivate, "abc", "abc")->m_key[63] ^= 0x01;
    std::ofstream out(strDir + "/vectors.txt", std::ios::binary);
    bool bAgree = true;
    for (const Vector& x : v) {
        bool bOpenSsl = VerifyMessageRaw(x.m_key, x.m_strMessage.data(), x.m_strMessage.size(), x.m_sig);
        if (bOpenSsl != x.m_bValid) fprintf(stderr, "signing_vectors: OpenSSL says %d for %s\n", bOpenSsl, x.m_strName.c_str());
        bAgree = bAgree && bOpenSsl == x.m_bValid;
        out << x.m_strName << ' ' << (bOpenSsl ? 1 : 0) << ' ' << ToHex(x.m_key, 64) << ' ' << Hex(x.m_strMessage)
            << ' ' << ToHex(x.m_sig, 64) << '\n';
    }
    std::ofstream key(strDir + "/private.pem", std::ios::binary);
    key << strPrivate;
    printf("signing_vectors: %u vectors in %s\n", static_cast<unsigned>(v.size()), strDir.c_str());
    return bAgree && out.good() && key.good();
}

bool Check(const std::string& strDir) {
    std::ifstream in(strDir + "/cng.txt");
    std::string strLine;
    unsigned nLines = 0, nBad = 0;
    while (std::getline(in, strLine)) {
        std::istringstream fields(strLine);
        std::string strName, strKey, strMessage, strSig;
        fields >> strName >> strKey >> strMessage >> strSig;
        if (strMessage == "-") strMessage.clear();
        std::string strBytes(strMessage.size() / 2, '\0');
        unsigned char key[64], sig[64];
        bool bOk = FromHex(strKey, key, 64) && FromHex(strSig, sig, 64) &&
                   FromHex(strMessage, reinterpret_cast<unsigned char*>(&strBytes[0]), strBytes.size()) &&
                   VerifyMessageRaw(key, strBytes.data(), strBytes.size(), sig);
        printf("signing_vectors: CNG's %s %s with OpenSSL\n", strName.c_str(), bOk ? "verifies" : "does NOT verify");
        ++nLines;
        nBad += bOk ? 0 : 1;
    }
    return nLines > 0 && nBad == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && !strcmp(argv[1], "make")) return Make(argv[2]) ? 0 : 1;
    if (argc == 3 && !strcmp(argv[1], "check")) return Check(argv[2]) ? 0 : 1;
    fputs("usage: signing_vectors make|check <dir>\n", stderr);
    return 2;
}
