// The signed manifest's reader and judge, the PEM forms of publish.exe and
// the native publisher's keygen and --key, held against OpenSSL under the
// sanitizers.
#include <gtest/gtest.h>

#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "net/BlockIndex.h"
#include "tools/KeyPem.h"
#include "tools/Signing.h"
#include "update/Manifest.h"
#include "NativeFiles.h"

namespace {

std::string PublishPath() {
    char sz[4096] = {};
    ssize_t n = readlink("/proc/self/exe", sz, sizeof sz - 1);
    std::string s(sz, n > 0 ? static_cast<size_t>(n) : 0);
    return s.substr(0, s.rfind('/') + 1) + "publish";
}

int RunShell(const std::string& strCommand) {
    int nRaw = system((strCommand + " >/dev/null 2>&1").c_str());
    return WIFEXITED(nRaw) ? WEXITSTATUS(nRaw) : -1;
}

using nativetest::Slurp;

const char* const HASH_A = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";
const char* const HASH_B = "e258d248fda94c63753607f7c4494ee0fcbe92f1a76bfdac795c9d84101eb317";
const std::string SIG_LINE = "signature:" + std::string(128, '0') + "\n";
const std::string HEADER = "manifest:1:Hollo:7:0:59:" + std::string(HASH_A) + "\n";

// A key pair and a signed manifest body made through OpenSSL.
struct SignedText {
    std::string m_strPrivate, m_strPublic, m_strText;
    unsigned char m_xy[64];
};

SignedText SignBody(const std::string& strBody) {
    SignedText t;
    std::string strError;
    unsigned char sig[64];
    EXPECT_TRUE(CreateKeyPairPem(t.m_strPrivate, t.m_strPublic, strError)) << strError;
    EXPECT_TRUE(SignMessagePem(t.m_strPrivate, strBody.data(), strBody.size(), sig, t.m_xy, strError)) << strError;
    t.m_strText = strBody + FormatSignatureLine(sig);
    return t;
}

std::string Body(const std::string& strProduct, uint64_t nSerial, uint64_t nExpires) {
    unsigned char digest[32] = {1, 2, 3};
    return FormatManifestBody(strProduct, nSerial, nExpires, 59, digest, {});
}

}  // namespace

TEST(ManifestReader, ValidAndEachMalformedForm) {
    const std::string strFiles = "6:" + std::string(HASH_A) + ":/:a.txt\n6:" + HASH_B + ":data:b.dat\n";
    struct Case {
        const char* pszName;
        std::string strText;
        bool bValid;
    } cases[] = {
        {"valid", HEADER + strFiles + SIG_LINE, true},
        {"valid without files", HEADER + SIG_LINE, true},
        {"empty", "", false},
        {"no signature line", HEADER + strFiles, false},
        {"no final line end", HEADER + strFiles + SIG_LINE.substr(0, SIG_LINE.size() - 1), false},
        {"signature alone", SIG_LINE, false},
        {"short signature", HEADER + "signature:" + std::string(126, '0') + "\n", false},
        {"upper-case hex", HEADER + "signature:" + std::string(128, 'A') + "\n", false},
        {"text after the signature", HEADER + SIG_LINE + "x\n", false},
        {"other version", "manifest:2:Hollo:7:0:59:" + std::string(HASH_A) + "\n" + SIG_LINE, false},
        {"other tag", "manifesto:1:Hollo:7:0:59:" + std::string(HASH_A) + "\n" + SIG_LINE, false},
        {"header field missing", "manifest:1:Hollo:7:59:" + std::string(HASH_A) + "\n" + SIG_LINE, false},
        {"empty product", "manifest:1::7:0:59:" + std::string(HASH_A) + "\n" + SIG_LINE, false},
        {"serial with leading zero", "manifest:1:Hollo:07:0:59:" + std::string(HASH_A) + "\n" + SIG_LINE, false},
        {"serial signed", "manifest:1:Hollo:-7:0:59:" + std::string(HASH_A) + "\n" + SIG_LINE, false},
        {"serial overflows", "manifest:1:Hollo:18446744073709551616:0:59:" + std::string(HASH_A) + "\n" + SIG_LINE, false},
        {"short list hash", "manifest:1:Hollo:7:0:59:" + std::string(HASH_A).substr(2) + "\n" + SIG_LINE, false},
        {"CR LF lines", "manifest:1:Hollo:7:0:59:" + std::string(HASH_A) + "\r\n" + SIG_LINE, false},
        {"blank line", HEADER + "\n" + SIG_LINE, false},
        {"file line without size", HEADER + std::string(HASH_A) + ":/:a.txt\n" + SIG_LINE, false},
        {"file size not a number", HEADER + "6x:" + std::string(HASH_A) + ":/:a.txt\n" + SIG_LINE, false},
        {"file with empty name", HEADER + "6:" + std::string(HASH_A) + ":/:\n" + SIG_LINE, false},
        {"file with extra field", HEADER + "6:" + std::string(HASH_A) + ":/:a:txt\n" + SIG_LINE, false},
        {"control byte in a name", HEADER + "6:" + std::string(HASH_A) + ":/:a\ttxt\n" + SIG_LINE, false},
        {"name longer than the list reads", HEADER + "6:" + std::string(HASH_A) + ":/:" + std::string(10000, 'a') + "\n" + SIG_LINE, false},
        {"same file twice, other case", HEADER + strFiles + "1:" + HASH_B + ":DATA:B.dat\n" + SIG_LINE, false},
        {"over 16 MB", HEADER + std::string(MANIFEST_MAX_BYTES, 'x') + SIG_LINE, false},
    };
    for (const Case& c : cases) {
        Manifest m;
        std::string strWhy;
        EXPECT_EQ(c.bValid, ParseManifest(c.strText.data(), c.strText.size(), m, strWhy)) << c.pszName << ": " << strWhy;
        if (c.bValid) {
            EXPECT_EQ(HEADER.size() + (m.m_files.empty() ? 0 : strFiles.size()), m.m_nSignedBytes) << c.pszName;
        }
    }
}

TEST(ManifestReader, FindsFilesByListPathIgnoringLetterCase) {
    const std::string strText = HEADER + "6:" + HASH_A + ":/:a.txt\n300:" + HASH_B + ":Data\\Sub:B.dat\n" +
                                "9:" + HASH_B + ":/:\xC4\xE3.txt\n" + SIG_LINE;
    Manifest m;
    std::string strWhy;
    ASSERT_TRUE(ParseManifest(strText.data(), strText.size(), m, strWhy)) << strWhy;
    EXPECT_EQ("Hollo", m.m_strProduct);
    EXPECT_EQ(7u, m.m_nSerial);
    EXPECT_EQ(59u, m.m_nListSize);
    EXPECT_EQ(HASH_A, ToHex(m.m_listSha256, 32));
    struct Lookup {
        const char* pszDir;
        const char* pszName;
        uint64_t nSize;  // 0: not found
    } lookups[] = {
        {"/", "a.txt", 6}, {"\\", "A.TXT", 6}, {"data\\sub", "b.DAT", 300}, {"DATA\\SUB", "B.dat", 300},
        {"/", "\xC4\xE3.txt", 9}, {"/", "\xE4\xE3.txt", 0}, {"data", "b.dat", 0}, {"/", "b.dat", 0},
        {"data\\sub", "a.txt", 0},
    };
    for (const Lookup& l : lookups) {
        const ManifestFile* f = m.Find(l.pszDir, l.pszName);
        EXPECT_EQ(l.nSize, f ? f->m_nSize : 0) << l.pszDir << ":" << l.pszName;
    }
    EXPECT_EQ(HASH_B, ToHex(m.Find("data\\sub", "b.dat")->m_sha256, 32));
}

TEST(ManifestCheck, JudgesSignatureProductSerialAndExpiry) {
    const uint64_t nNow = 1700000000;
    SignedText ok = SignBody(Body("Hollo", 100, 0));
    SignedText expiring = SignBody(Body("Hollo", 100, nNow + 1));
    SignedText other = SignBody(Body("Hollo", 100, 0));
    std::string strTampered = ok.m_strText;
    strTampered[strTampered.find(":100:") + 3] = '1';
    struct Case {
        const char* pszName;
        const SignedText& signedBy;
        std::string strText;
        const char* pszProduct;
        uint64_t nLastSerial, nNow;
        ManifestVerdict nExpected;
    } cases[] = {
        {"signed", ok, ok.m_strText, "Hollo", 99, nNow, ManifestVerdict::Accepted},
        {"same serial again", ok, ok.m_strText, "Hollo", 100, nNow, ManifestVerdict::Accepted},
        {"product in other case", ok, ok.m_strText, "HOLLO", 0, nNow, ManifestVerdict::Accepted},
        {"older serial", ok, ok.m_strText, "Hollo", 101, nNow, ManifestVerdict::OlderSerial},
        {"other product", ok, ok.m_strText, "Game7", 0, nNow, ManifestVerdict::OtherProduct},
        {"other key", other, ok.m_strText, "Hollo", 0, nNow, ManifestVerdict::BadSignature},
        {"changed after signing", ok, strTampered, "Hollo", 0, nNow, ManifestVerdict::BadSignature},
        {"before its expiry", expiring, expiring.m_strText, "Hollo", 0, nNow, ManifestVerdict::Accepted},
        {"at its expiry", expiring, expiring.m_strText, "Hollo", 0, nNow + 1, ManifestVerdict::Expired},
        {"garbage", ok, "manifest\n", "Hollo", 0, nNow, ManifestVerdict::Malformed},
    };
    for (const Case& c : cases) {
        Manifest m;
        std::string strWhy;
        EXPECT_EQ(c.nExpected, CheckManifest(c.strText.data(), c.strText.size(), c.signedBy.m_xy, VerifyMessageRaw,
                                             c.pszProduct, c.nLastSerial, c.nNow, m, strWhy))
            << c.pszName << ": " << strWhy;
    }
}

TEST(KeyPem, ReadsAndWritesWhatOpenSslDoes) {
    std::string strPrivate, strPublic, strError, strWhy;
    ASSERT_TRUE(CreateKeyPairPem(strPrivate, strPublic, strError)) << strError;
    unsigned char d[32], xy[64], xyPublic[64], sig[64], xySigned[64];
    ASSERT_TRUE(ReadPrivateKeyPem(strPrivate, d, xy, strWhy)) << "PKCS#8 from OpenSSL: " << strWhy;
    ASSERT_TRUE(ReadPublicKeyPem(strPublic, xyPublic, strWhy)) << strWhy;
    EXPECT_EQ(0, memcmp(xy, xyPublic, 64));
    EXPECT_EQ(strPublic, PublicKeyPem(xy)) << "our public PEM is byte for byte OpenSSL's";
    EXPECT_EQ(strPrivate, PrivateKeyPem(d, xy)) << "our private PEM is byte for byte OpenSSL's";
    // SEC1 ("EC PRIVATE KEY"), as older OpenSSL tools write it.
    BIO* bio = BIO_new_mem_buf(strPrivate.data(), static_cast<int>(strPrivate.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    ASSERT_NE(nullptr, key);
    OSSL_ENCODER_CTX* enc = OSSL_ENCODER_CTX_new_for_pkey(key, EVP_PKEY_KEYPAIR, "PEM", "type-specific", nullptr);
    unsigned char* pSec1 = nullptr;
    size_t nSec1 = 0;
    ASSERT_TRUE(enc && OSSL_ENCODER_to_data(enc, &pSec1, &nSec1));
    std::string strSec1(reinterpret_cast<char*>(pSec1), nSec1);
    OPENSSL_free(pSec1);
    OSSL_ENCODER_CTX_free(enc);
    EVP_PKEY_free(key);
    unsigned char dSec1[32], xySec1[64];
    ASSERT_NE(std::string::npos, strSec1.find("BEGIN EC PRIVATE KEY"));
    ASSERT_TRUE(ReadPrivateKeyPem(strSec1, dSec1, xySec1, strWhy)) << "SEC1: " << strWhy;
    EXPECT_EQ(0, memcmp(d, dSec1, 32));
    EXPECT_EQ(0, memcmp(xy, xySec1, 64));
    EXPECT_TRUE(SignMessagePem(strSec1, "m", 1, sig, xySigned, strError)) << strError;
    EXPECT_TRUE(VerifyMessageRaw(xy, "m", 1, sig));
    EXPECT_FALSE(ReadPublicKeyPem(strPrivate, xyPublic, strWhy));
    EXPECT_FALSE(ReadPrivateKeyPem(strPublic, d, xy, strWhy));
}

TEST(PublishSigned, KeygenThenSignedPublishesCountUp) {
    char szTemplate[] = "/tmp/publish_sign_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szTemplate));
    const std::string strTmp = szTemplate, strPublish = PublishPath(), strSite = strTmp + "/site";
    const std::string strList = strSite + "/kroupdate/Hollo/filelist.list";
    mkdir((strTmp + "/rel").c_str(), 0755);
    mkdir((strTmp + "/rel/data").c_str(), 0755);
    FILE* f = fopen((strTmp + "/rel/data/b.dat").c_str(), "wb");
    fputs("world\n", f);
    fclose(f);
    f = fopen((strTmp + "/rel/data/c.pak").c_str(), "wb");
    for (int i = 0; i < 5000; ++i) fputc(i % 251, f);
    fclose(f);
    ASSERT_EQ(0, RunShell(strPublish + " keygen " + strTmp + "/keys"));
    EXPECT_EQ(1, RunShell(strPublish + " keygen " + strTmp + "/keys")) << "keygen must never overwrite a key";
    struct stat st;
    ASSERT_EQ(0, stat((strTmp + "/keys/private.pem").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777u);

    ASSERT_EQ(0, RunShell(strPublish + " " + strTmp + "/rel " + strSite + " Hollo"));
    EXPECT_NE(0, access((strSite + "/kroupdate/Hollo/filelist.sig").c_str(), F_OK)) << "unsigned writes no manifest";
    EXPECT_EQ(2, RunShell(strPublish + " --key " + strTmp + "/keys/private.pem --expires-days x " + strTmp + "/rel " + strSite + " Hollo"));
    EXPECT_EQ(1, RunShell(strPublish + " --key " + strTmp + "/keys/public.pem " + strTmp + "/rel " + strSite + " Hollo"));
    EXPECT_EQ(1, RunShell(strPublish + " --expires-days 3 " + strTmp + "/rel " + strSite + " Hollo"));

    unsigned char xy[64], listSha[32];
    uint64_t nListSize = 0, nLast = 0;
    std::string strWhy;
    ASSERT_TRUE(ReadPublicKeyPem(Slurp(strTmp + "/keys/public.pem"), xy, strWhy)) << strWhy;
    for (int nRound = 0; nRound < 2; ++nRound) {
        ASSERT_EQ(0, RunShell(strPublish + " --key " + strTmp + "/keys/private.pem --expires-days 2 --delta-min 4K " + strTmp + "/rel " + strSite + " Hollo"));
        std::string strSig = Slurp(strSite + "/kroupdate/Hollo/filelist.sig");
        Manifest m;
        uint64_t nNow = static_cast<uint64_t>(time(nullptr));
        ASSERT_EQ(ManifestVerdict::Accepted,
                  CheckManifest(strSig.data(), strSig.size(), xy, VerifyMessageRaw, "Hollo", nLast, nNow, m, strWhy))
            << "round " << nRound << ": " << strWhy;
        EXPECT_GT(m.m_nSerial, nLast) << "round " << nRound;
        EXPECT_GE(m.m_nSerial, nNow - 5);
        EXPECT_NEAR(static_cast<double>(nNow + 2 * 86400), static_cast<double>(m.m_nExpires), 5.0);
        nLast = m.m_nSerial;
        ASSERT_TRUE(Sha256OfFile(strList, listSha, nListSize));
        EXPECT_EQ(nListSize, m.m_nListSize);
        EXPECT_EQ(0, memcmp(listSha, m.m_listSha256, 32));
        ASSERT_EQ(3u, m.m_files.size()) << "b.dat, c.pak and c.pak's block index";
        ASSERT_NE(nullptr, m.Find("data", "b.dat"));
        EXPECT_EQ(HASH_B, ToHex(m.Find("data", "b.dat")->m_sha256, 32));
        const ManifestFile* pIndex = m.Find(net::BlockIndexManifestDir("data"), "c.pak");
        ASSERT_NE(nullptr, pIndex);
        unsigned char indexSha[32];
        uint64_t nIndexSize = 0;
        ASSERT_TRUE(Sha256OfFile(strSite + "/kroupdate/Hollo/blocks/data/c.pak", indexSha, nIndexSize));
        EXPECT_EQ(nIndexSize, pIndex->m_nSize);
        EXPECT_EQ(0, memcmp(indexSha, pIndex->m_sha256, 32));
    }
    // The build turns the same public key into the client's raw key.
    ASSERT_EQ(0, RunShell("python3 " REPO_ROOT "/cmake/public_key_header.py " + strTmp + "/keys/public.pem " + strTmp + "/key.h"));
    std::string strHeader = Slurp(strTmp + "/key.h"), strExpected;
    for (int i = 0; i < 64; ++i) {
        char sz[8];
        snprintf(sz, sizeof sz, "0x%02x", xy[i]);
        strExpected += strExpected.empty() ? sz : std::string(i % 8 ? ", " : ",\n    ") + sz;
    }
    EXPECT_NE(std::string::npos, strHeader.find(strExpected)) << strHeader;
    EXPECT_NE(0, RunShell("python3 " REPO_ROOT "/cmake/public_key_header.py " + strTmp + "/keys/private.pem " + strTmp + "/k2.h"));
    RunShell("rm -rf '" + strTmp + "'");
}

TEST(ManifestReader, DamagedTextNeverOverruns) {
    const std::string strValid = HEADER + "6:" + HASH_A + ":/:a.txt\n6:" + HASH_B + ":data:b.dat\n" + SIG_LINE;
    srand(13);
    for (int i = 0; i < 20000; ++i) {
        std::string s = strValid.substr(0, static_cast<size_t>(rand()) % (strValid.size() + 1));
        for (int k = rand() % 4; k > 0 && !s.empty(); --k) s[static_cast<size_t>(rand()) % s.size()] = static_cast<char>(rand());
        std::vector<char> exact(s.begin(), s.end());  // no spare byte past the end for the sanitizer to miss
        Manifest m;
        std::string strWhy;
        if (ParseManifest(exact.data(), exact.size(), m, strWhy)) {
            EXPECT_LE(m.m_nSignedBytes, exact.size());
        }
    }
}
