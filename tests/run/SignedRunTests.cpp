// Signed releases against the tests' nginx: a signed release installs, and
// each attack on the way between publisher and player is refused with every
// installed file left byte for byte as it was.
#include "run/RunFixture.h"

#include <algorithm>
#include <map>

#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "support/ScriptedServer.h"
#include "tools/KeyPem.h"
#include "tools/Signing.h"
#include "update/Checksum.h"
#include "update/SerialStore.h"

using namespace testing_support;

namespace {

const uint64_t kDay = 86400;

struct KeyPair {
    std::string strPrivate;
    unsigned char xy[KEY_PUBLIC_BYTES] = {};
};

// Made with CNG, as publish.exe makes them; empty when that failed.
KeyPair MakeKey() {
    KeyPair key;
    std::string strPublic, strError, strWhy;
    if (!CreateKeyPairPem(key.strPrivate, strPublic, strError) || !ReadPublicKeyPem(strPublic, key.xy, strWhy))
        key.strPrivate.clear();
    return key;
}
const KeyPair& Publisher() {
    static const KeyPair key = MakeKey();
    return key;
}
const KeyPair& Stranger() {
    static const KeyPair key = MakeKey();
    return key;
}

uint32_t ChecksumOf(const std::string& s) { return ChecksumUpdate(ChecksumStart(), s.data(), s.size()); }

// Rewrites the last four bytes of a body so that its checksum becomes nWanted,
// as anyone can: the checksum is affine in the bits, so 32 columns and an
// elimination solve it.
std::string WithChecksum(std::string body, uint32_t nWanted) {
    const size_t nAt = body.size() - 4;
    const uint32_t nBase = ChecksumOf(body);
    uint32_t column[32] = {}, flips[32] = {};  // basis by highest bit: its value and the bits that make it
    for (uint32_t j = 0; j < 32; ++j) {
        std::string s = body;
        s[nAt + j / 8] = static_cast<char>(s[nAt + j / 8] ^ (1 << (j % 8)));
        uint32_t c = ChecksumOf(s) ^ nBase, f = 1u << j;
        for (int bit = 31; bit >= 0 && c; --bit) {
            if (!(c >> bit & 1)) continue;
            if (!column[bit]) {
                column[bit] = c;
                flips[bit] = f;
                break;
            }
            c ^= column[bit];
            f ^= flips[bit];
        }
    }
    uint32_t nNeed = nBase ^ nWanted, nFlip = 0;
    for (int bit = 31; bit >= 0; --bit) {
        if (nNeed >> bit & 1) {
            nNeed ^= column[bit];
            nFlip ^= flips[bit];
        }
    }
    for (uint32_t j = 0; j < 32; ++j)
        if (nFlip >> j & 1) body[nAt + j / 8] = static_cast<char>(body[nAt + j / 8] ^ (1 << (j % 8)));
    return body;
}

// Release zero is kept for the replay; one is installed; two changes only
// b.dat, so every refusal must leave the program folder exactly as one left it.
const ReleaseFiles kZero = {{"a.dll", "release zero"}, {"data/b.dat", std::string(70000, 'a')}};
const ReleaseFiles kOne = {{"a.dll", "release one"}, {"data/b.dat", std::string(70000, 'b')}};
const ReleaseFiles kTwo = {{"a.dll", "release one"}, {"data/b.dat", std::string(69000, 'c')}};
const char* const kServedNames[] = {"filelist.sig", "filelist.list", "release\\a.dll", "release\\data\\b.dat"};

using Site = std::map<std::string, std::string>;

std::string ServedPath(const std::string& strProduct, const std::string& strName) {
    return SiteProductFilePath(strProduct, strName);
}

Site Served(const std::string& strProduct) {
    Site site;
    for (const char* pszName : kServedNames) site[pszName] = ReadWholeFile(ServedPath(strProduct, pszName));
    return site;
}

void Serve(const std::string& strProduct, const std::string& strName, const std::string& strBytes) {
    ASSERT_TRUE(WriteWholeFile(ServedPath(strProduct, strName), strBytes)) << strName;
}

std::string SignatureDigits(const std::string& strSig) { return strSig.substr(strSig.rfind("signature:") + 10); }

// What the attacker does to the served release two; release zero's site is at hand.
using Tamper = void (*)(const std::string& strProduct, const Site& zero);

void NoChange(const std::string&, const Site&) {}
void RewriteListForOtherFile(const std::string& strProduct, const Site&) {
    ReleaseFiles evil = kTwo;
    evil["data/b.dat"] = std::string(69000, 'X');
    ASSERT_TRUE(PublishRelease(strProduct, evil));  // new file and list, release two's signature
}
void ChangeList(const std::string& strProduct, const Site&) {
    Serve(strProduct, "filelist.list", "/:evil.exe:1\r\n" + ReadWholeFile(ServedPath(strProduct, "filelist.list")));
}
void TruncateSignature(const std::string& strProduct, const Site&) {
    std::string strSig = ReadWholeFile(ServedPath(strProduct, "filelist.sig"));
    Serve(strProduct, "filelist.sig", strSig.substr(0, strSig.size() - 40));
}
void GarbageSignature(const std::string& strProduct, const Site&) {
    std::string strSig = ReadWholeFile(ServedPath(strProduct, "filelist.sig"));
    std::string strDigits = SignatureDigits(strSig);
    std::reverse(strDigits.begin(), strDigits.end());
    Serve(strProduct, "filelist.sig", strSig.substr(0, strSig.size() - strDigits.size()) + strDigits);
}
void ReplayZero(const std::string& strProduct, const Site& zero) {
    for (const auto& f : zero) Serve(strProduct, f.first, f.second);
}
void RemoveSignature(const std::string& strProduct, const Site&) {
    ASSERT_TRUE(DeleteFileA(ServedPath(strProduct, "filelist.sig").c_str()));
}
void SameSizeAndChecksum(const std::string& strProduct, const Site&) {
    std::string strGenuine = kTwo.at("data/b.dat");
    std::string strForged = WithChecksum(std::string(strGenuine.size(), 'X'), ChecksumOf(strGenuine));
    ASSERT_EQ(ChecksumOf(strGenuine), ChecksumOf(strForged));
    Serve(strProduct, "release\\data\\b.dat", strForged);
}
// On the player's side: the installed a.dll, which release two keeps, forged
// to its listed size and checksum.
void ForgeInstalledFile(const std::string&, const Site&) {
    const std::string strGenuine = kTwo.at("a.dll");
    ASSERT_TRUE(WriteWholeFile(TestBinDir() + "a.dll",
                               WithChecksum(std::string(strGenuine.size(), 'X'), ChecksumOf(strGenuine))));
}
void LongerBody(const std::string& strProduct, const Site&) {
    Serve(strProduct, "release\\data\\b.dat", kTwo.at("data/b.dat") + std::string(500000, 'c'));
}
void ShorterBody(const std::string& strProduct, const Site&) {
    Serve(strProduct, "release\\data\\b.dat", kTwo.at("data/b.dat").substr(1000));
}

struct Attack {
    const char* pszName;
    const KeyPair& (*signer)();  // who signs release two
    uint64_t nPublishedAgo;      // seconds before now
    unsigned nExpiresDays;
    Tamper tamper;
    const char* pszRefusal;  // the run's last status (TEXT_DONE: nothing refused)
};

const Attack kAttacks[] = {
    {"none: release two installs, the serial moves on", Publisher, 0, 0, NoChange, TEXT_DONE},
    {"file replaced, list rewritten with its checksum", Publisher, 0, 0, RewriteListForOtherFile, TEXT_LIST_REFUSED},
    {"list changed without re-signing", Publisher, 0, 0, ChangeList, TEXT_LIST_REFUSED},
    {"manifest signed by another key", Stranger, 0, 0, NoChange, TEXT_LIST_REFUSED},
    {"signature truncated", Publisher, 0, 0, TruncateSignature, TEXT_LIST_REFUSED},
    {"signature garbage", Publisher, 0, 0, GarbageSignature, TEXT_LIST_REFUSED},
    {"older signed release replayed", Publisher, 0, 0, ReplayZero, TEXT_LIST_REFUSED},
    {"expired release", Publisher, 2 * kDay, 1, NoChange, TEXT_LIST_REFUSED},
    {"filelist.sig missing", Publisher, 0, 0, RemoveSignature, TEXT_LIST_REFUSED},
    {"file of the same size and checksum", Publisher, 0, 0, SameSizeAndChecksum, TEXT_FILE_FAILED},
    {"installed file forged to its checksum is repaired", Publisher, 0, 0, ForgeInstalledFile, TEXT_DONE},
    {"file body longer than signed", Publisher, 0, 0, LongerBody, TEXT_FILE_FAILED},
    {"file body shorter than signed", Publisher, 0, 0, ShorterBody, TEXT_FILE_FAILED},
};

}  // namespace

class SignedRunTest : public RunTest {
protected:
    // One run of the current product with the publisher's key in force.
    void RunSigned(RecordingSession& session) {
        session.settings.SetKey(Publisher().xy);
        ASSERT_TRUE(RunAgainst(session, NginxPort()));
    }
    void ExpectInstalled(const ReleaseFiles& files, const char* pszCase) {
        for (const auto& f : files) {
            std::string path = m_strProgramDir + f.first;
            std::replace(path.begin(), path.end(), '/', '\\');
            // Compared whole, not printed: a release file fills the screen.
            EXPECT_TRUE(ReadWholeFile(path) == f.second) << pszCase << ": " << f.first << " changed";
            EXPECT_EQ(GetFileAttributesA((path + ".part").c_str()), INVALID_FILE_ATTRIBUTES) << pszCase;
        }
    }
};

TEST_F(SignedRunTest, ASignedReleaseInstallsAndEachAttackIsRefused) {
    ASSERT_FALSE(Publisher().strPrivate.empty());
    ASSERT_FALSE(Stranger().strPrivate.empty());
    const std::string strTest = m_strProduct;
    const uint64_t nNow = UtcSecondsNow();
    for (size_t i = 0; i < sizeof(kAttacks) / sizeof(kAttacks[0]); ++i) {
        const Attack& a = kAttacks[i];
        m_strProduct = strTest + std::to_string(i);
        CleanProgramFolder();
        ASSERT_TRUE(PublishSignedRelease(m_strProduct, kZero, Publisher().strPrivate, nNow)) << a.pszName;
        Site zero = Served(m_strProduct);
        // An expiry to come doesn't stand in the way.
        ASSERT_TRUE(PublishSignedRelease(m_strProduct, kOne, Publisher().strPrivate, nNow, 30)) << a.pszName;
        uint64_t nSerial = 0;
        {
            RecordingSession session;
            RunSigned(session);
            ASSERT_EQ(session.GetStatus(), TEXT_DONE) << a.pszName << ": release one installs";
            nSerial = ReadAcceptedSerial("", m_strProduct);
            EXPECT_GT(nSerial, 0u) << a.pszName;
        }
        ExpectInstalled(kOne, a.pszName);
        ASSERT_TRUE(PublishSignedRelease(m_strProduct, kTwo, a.signer().strPrivate, nNow - a.nPublishedAgo,
                                         a.nExpiresDays)) << a.pszName;
        a.tamper(m_strProduct, zero);
        g_updateList.clear();
        {
            RecordingSession session;
            RunSigned(session);
            EXPECT_EQ(session.GetStatus(), a.pszRefusal) << a.pszName;
        }
        const bool bRefused = std::string(a.pszRefusal) != TEXT_DONE;
        ExpectInstalled(bRefused ? kOne : kTwo, a.pszName);
        // Release two's serial stands once its list is taken, even where a file of it fails.
        const bool bListTaken = std::string(a.pszRefusal) != TEXT_LIST_REFUSED;
        uint64_t nAfter = ReadAcceptedSerial("", m_strProduct);
        EXPECT_TRUE(bListTaken ? nAfter > nSerial : nAfter == nSerial) << a.pszName << ": serial " << nAfter;
    }
}

TEST_F(SignedRunTest, AFileThatFailsForGoodLeavesNoWayToReplayAnOlderRelease) {
    const uint64_t nNow = UtcSecondsNow();
    ASSERT_TRUE(PublishSignedRelease(m_strProduct, kZero, Publisher().strPrivate, nNow));
    Site zero = Served(m_strProduct);
    ASSERT_TRUE(PublishSignedRelease(m_strProduct, kOne, Publisher().strPrivate, nNow));
    // A file where the folder "data" belongs: data/b.dat can never be written.
    ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "data", "in the way"));
    {
        RecordingSession session;
        RunSigned(session);
        EXPECT_EQ(session.GetStatus(), TEXT_FILE_FAILED);
    }
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "a.dll"), "release one");
    ReplayZero(m_strProduct, zero);
    g_updateList.clear();
    {
        RecordingSession session;
        RunSigned(session);
        EXPECT_EQ(session.GetStatus(), TEXT_LIST_REFUSED) << "release zero is older than the one taken";
    }
    EXPECT_EQ(ReadWholeFile(m_strProgramDir + "a.dll"), "release one");
}

TEST_F(SignedRunTest, AMirrorServingAReleaseOfAnotherKeyIsPassedOverAndNothingOfItFetched) {
    ASSERT_TRUE(PublishSignedRelease(m_strProduct, {{"a.dll", "evil"}, {"data/b.dat", "evil"}},
                                     Stranger().strPrivate, UtcSecondsNow()));
    testsupport::ScriptedServer mirror;
    ASSERT_TRUE(mirror.Start());
    for (const auto& f : Served(m_strProduct)) {
        std::string strPath = "/kroupdate/" + m_strProduct + "/" + f.first;
        std::replace(strPath.begin(), strPath.end(), '\\', '/');
        mirror.Script(strPath, testsupport::Reply::Ok(f.second));
    }
    ASSERT_TRUE(PublishSignedRelease(m_strProduct, kOne, Publisher().strPrivate, UtcSecondsNow()));
    RecordingSession session;
    session.settings.SetKey(Publisher().xy);
    session.settings.strProduct = m_strProduct;
    session.SetListener(this);
    session.StartOn({{"127.0.0.1", mirror.Port()}, {"127.0.0.1", NginxPort()}});
    ASSERT_TRUE(WaitForRunEnd(60000));
    EXPECT_EQ(session.GetStatus(), TEXT_DONE);
    ExpectInstalled(kOne, "from the second server");
    EXPECT_EQ(mirror.RequestLines().size(), 2u) << "only the mirror's filelist.sig, once more at a fresh address";
    mirror.Stop();
}

// A cache that still holds release one's signature when release two's list
// comes fresh: both are asked once more at addresses no cache has seen.
TEST_F(SignedRunTest, AStaleCachedSignatureIsAskedForAgainAtAFreshAddress) {
    ASSERT_TRUE(PublishSignedRelease(m_strProduct, kOne, Publisher().strPrivate, UtcSecondsNow()));
    const std::string strOldSig = ReadWholeFile(ServedPath(m_strProduct, "filelist.sig"));
    ASSERT_TRUE(PublishSignedRelease(m_strProduct, kTwo, Publisher().strPrivate, UtcSecondsNow() + 1));
    testsupport::ScriptedServer cache;
    ASSERT_TRUE(cache.Start());
    for (const auto& f : Served(m_strProduct)) {
        std::string strPath = "/kroupdate/" + m_strProduct + "/" + f.first;
        std::replace(strPath.begin(), strPath.end(), '\\', '/');
        cache.Script(strPath, testsupport::Reply::Ok(f.second));
    }
    const std::string strSig = "/kroupdate/" + m_strProduct + "/filelist.sig";
    cache.Script(strSig, {testsupport::Reply::Ok(strOldSig), testsupport::Reply::Ok(ReadWholeFile(ServedPath(m_strProduct, "filelist.sig")))});
    RecordingSession session;
    session.settings.SetKey(Publisher().xy);
    ASSERT_TRUE(RunAgainst(session, cache.Port()));
    EXPECT_EQ(session.GetStatus(), TEXT_DONE);
    ExpectInstalled(kTwo, "through a stale cache");
    std::vector<std::string> targets;
    for (const auto& r : cache.Requests())
        if (r.Path() == strSig || r.Path().find("filelist.list") != std::string::npos) targets.push_back(r.Target());
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(targets[2].compare(0, strSig.size() + 3, strSig + "?r="), 0) << targets[2];
    EXPECT_NE(targets[3].find("filelist.list?r="), std::string::npos) << targets[3];
}
