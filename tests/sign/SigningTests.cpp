// SHA-256 and ECDSA P-256 through the real CNG, against vectors OpenSSL
// judged; publish.exe's signing; the accepted-serial store.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/EcdsaP256.h"
#include "framework/Sha256.h"
#include "tools/KeyPem.h"
#include "tools/Publisher.h"
#include "tools/Signing.h"
#include "tools/SiteSigning.h"
#include "update/Manifest.h"
#include "update/SerialStore.h"
#include "update/SignedBody.h"

namespace {

std::string DigestHex(const unsigned char digest[32]) { return ToHex(digest, 32); }

std::string Slurp(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Bytes(const std::string& strHex) {
    if (strHex == "-") return std::string();
    std::string s(strHex.size() / 2, '\0');
    FromHex(strHex, reinterpret_cast<unsigned char*>(&s[0]), s.size());
    return s;
}

}  // namespace

TEST(Sha256, KnownDigestsStreamedAndInThreads) {
    const std::string strMillion(1000000, 'a');
    struct Case {
        const char* pszName;
        std::string strData;
        size_t nPiece;
        const char* pszDigest;
    } cases[] = {
        {"empty", "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"million a, whole", strMillion, strMillion.size(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"million a, in 7s", strMillion, 7, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        fw::Sha256 hash;
        unsigned char digest[32];
        for (size_t i = 0; i < c.strData.size(); i += c.nPiece)
            ASSERT_TRUE(hash.Update(c.strData.data() + i, std::min(c.nPiece, c.strData.size() - i))) << c.pszName;
        ASSERT_TRUE(hash.Finish(digest)) << c.pszName;
        EXPECT_EQ(c.pszDigest, DigestHex(digest)) << c.pszName;
        EXPECT_FALSE(hash.Update("x", 1)) << c.pszName << ": a finished hash takes nothing more";
    }
    std::ofstream("million.bin", std::ios::binary) << strMillion;
    unsigned char digest[32];
    unsigned long long nSize = 0;
    ASSERT_TRUE(fw::FileSha256("million.bin", digest, &nSize));
    EXPECT_EQ(strMillion.size(), nSize);
    EXPECT_EQ(cases[2].pszDigest, DigestHex(digest));
    EXPECT_FALSE(fw::FileSha256("missing.bin", digest, &nSize));
    // One object per transfer, several transfers at once.
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (std::string& r : results)
        threads.emplace_back([&r, &strMillion] {
            fw::Sha256 hash;
            unsigned char d[32] = {};
            for (size_t i = 0; i < strMillion.size(); i += 4096)
                hash.Update(strMillion.data() + i, std::min<size_t>(4096, strMillion.size() - i));
            if (hash.Finish(d)) r = ToHex(d, 32);
        });
    for (std::thread& t : threads) t.join();
    for (const std::string& r : results) EXPECT_EQ(cases[2].pszDigest, r);
}

TEST(EcdsaP256, CngAgreesWithOpenSslOnEachVector) {
    std::ifstream in("vectors/vectors.txt");
    std::string strLine;
    unsigned nCases = 0;
    while (std::getline(in, strLine)) {
        std::istringstream fields(strLine);
        std::string strName, strKey, strMessage, strSig;
        int nOpenSsl = -1;
        fields >> strName >> nOpenSsl >> strKey >> strMessage >> strSig;
        unsigned char key[64], sig[64];
        ASSERT_TRUE(FromHex(strKey, key, 64) && FromHex(strSig, sig, 64)) << strLine;
        std::string strBytes = Bytes(strMessage);
        EXPECT_EQ(nOpenSsl == 1, fw::EcdsaP256VerifyMessage(key, strBytes.data(), strBytes.size(), sig)) << strName;
        ++nCases;
    }
    EXPECT_GE(nCases, 10u) << "vectors/vectors.txt from signing_vectors";
}

TEST(EcdsaP256, CngSignaturesForOpenSslToCheck) {
    std::string strOpenSslKey = Slurp("vectors/private.pem"), strCngPrivate, strCngPublic, strError, strWhy;
    ASSERT_FALSE(strOpenSslKey.empty()) << "vectors/private.pem from signing_vectors";
    ASSERT_TRUE(CreateKeyPairPem(strCngPrivate, strCngPublic, strError)) << strError;
    struct Case {
        const char* pszName;
        const std::string& strKey;
        std::string strMessage;
    } cases[] = {
        {"openssl-key", strOpenSslKey, "abc"},
        {"cng-key", strCngPrivate, "abc"},
        {"cng-key-long", strCngPrivate, std::string(5000, 'L')},
    };
    std::ofstream out("vectors/cng.txt", std::ios::binary);
    for (const Case& c : cases) {
        unsigned char sig[64], xy[64], xyPem[64];
        ASSERT_TRUE(SignMessagePem(c.strKey, c.strMessage.data(), c.strMessage.size(), sig, xy, strError)) << c.pszName;
        EXPECT_TRUE(fw::EcdsaP256VerifyMessage(xy, c.strMessage.data(), c.strMessage.size(), sig)) << c.pszName;
        EXPECT_FALSE(fw::EcdsaP256VerifyMessage(xy, "abd", 3, sig)) << c.pszName;
        out << c.pszName << ' ' << ToHex(xy, 64) << ' '
            << ToHex(reinterpret_cast<const unsigned char*>(c.strMessage.data()), c.strMessage.size()) << ' '
            << ToHex(sig, 64) << '\n';
        if (&c.strKey == &strCngPrivate) {
            ASSERT_TRUE(ReadPublicKeyPem(strCngPublic, xyPem, strWhy)) << strWhy;
            EXPECT_EQ(0, memcmp(xy, xyPem, 64)) << c.pszName;
        }
    }
}

TEST(PublishExe, SignsASiteTheClientAccepts) {
    CreateDirectoryA("rel", nullptr);
    std::ofstream("rel\\a.txt", std::ios::binary) << "hello\n";
    std::string strPrivate, strPublic, strError, strWhy;
    ASSERT_TRUE(CreateKeyPairPem(strPrivate, strPublic, strError)) << strError;
    unsigned char xy[64];
    ASSERT_TRUE(ReadPublicKeyPem(strPublic, xy, strWhy)) << strWhy;
    ReleaseScan scan;
    ASSERT_TRUE(ScanRelease("rel", scan, strError)) << strError;
    ASSERT_TRUE(WriteSite("rel", "site", "Hollo", scan.m_entries, strError)) << strError;
    SigningOptions opt;
    opt.m_strKeyPem = strPrivate;
    const uint64_t nNow = UtcSecondsNow();
    ASSERT_TRUE(WriteSignedManifest("site", "Hollo", scan.m_entries, opt, nNow, strError)) << strError;
    std::string strSig = Slurp("site\\kroupdate\\Hollo\\filelist.sig");
    Manifest m;
    ASSERT_EQ(ManifestVerdict::Accepted, CheckManifest(strSig.data(), strSig.size(), xy, fw::EcdsaP256VerifyMessage,
                                                       "Hollo", 0, nNow, m, strWhy)) << strWhy << "\n" << strSig;
    ASSERT_NE(nullptr, m.Find("/", "A.TXT"));
    EXPECT_EQ(6u, m.Find("/", "A.TXT")->m_nSize);
    EXPECT_EQ("5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03", ToHex(m.Find("/", "a.txt")->m_sha256, 32));
    strSig[strSig.find("/:a.txt") - 2] ^= 1;  // one digit of the file's digest
    EXPECT_EQ(ManifestVerdict::BadSignature, CheckManifest(strSig.data(), strSig.size(), xy, fw::EcdsaP256VerifyMessage,
                                                           "Hollo", 0, nNow, m, strWhy));
}

TEST(SerialStore, KeepsTheLastAcceptedSerial) {
    DeleteFileA("UpdateINI\\Game9\\serial");  // left by an earlier run
    EXPECT_EQ(0u, ReadAcceptedSerial("", "Game9"));
    ASSERT_TRUE(WriteAcceptedSerial("", "Game9", 1796799600ull));
    EXPECT_EQ(1796799600ull, ReadAcceptedSerial("", "Game9"));
    ASSERT_TRUE(WriteAcceptedSerial("", "Game9", 18446744073709551615ull));
    EXPECT_EQ(18446744073709551615ull, ReadAcceptedSerial("", "Game9"));
    EXPECT_EQ(0u, ReadAcceptedSerial("", "Hollo")) << "each product keeps its own";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("UpdateINI\\Game9\\serial.new"));
    EXPECT_EQ("UpdateINI\\Game9\\serial", AcceptedSerialPath("", "Game9"));
    long long nDiff = static_cast<long long>(UtcSecondsNow()) - static_cast<long long>(time(nullptr));
    EXPECT_LE(nDiff < 0 ? -nDiff : nDiff, 2);
}

TEST(SignedBody, TakesExactlyTheSignedBytes) {
    unsigned char sha[32];
    ASSERT_TRUE(fw::BytesSha256("hello world", 11, sha));
    struct Case {
        const char* pszName;
        std::vector<std::string> pieces;
        bool bTaken;     // every piece taken
        bool bComplete;  // may replace the target
    } cases[] = {
        {"exact, one piece", {"hello world"}, true, true},
        {"exact, three pieces", {"hel", "lo wor", "ld"}, true, true},
        {"one byte changed", {"hello World"}, true, false},
        {"short", {"hello"}, true, false},
        {"one byte too many", {"hello world", "!"}, false, false},
        {"longer in one piece", {"hello world and more"}, false, false},
    };
    for (const Case& c : cases) {
        SignedBody body(11, sha);
        EXPECT_TRUE(body.AcceptsLength(11)) << c.pszName;
        EXPECT_FALSE(body.AcceptsLength(12)) << c.pszName;
        bool bTaken = true;
        for (const std::string& p : c.pieces) bTaken = bTaken && body.Take(p.data(), p.size());
        EXPECT_EQ(c.bTaken, bTaken) << c.pszName;
        EXPECT_LE(body.Received(), 11u) << c.pszName;
        EXPECT_EQ(c.bComplete, body.Complete()) << c.pszName;
    }
}
