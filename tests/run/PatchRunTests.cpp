// A changed file whose installed copy is the base of a published patch comes
// as that patch; a damaged, lying or unsigned patch never lands, and the file
// still arrives by the block delta or whole.
#include "run/RunFixture.h"

#include <ctime>

#include "framework/Sha256.h"
#include "net/PatchName.h"
#include "res/Texts.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "tools/KeyPem.h"
#include "tools/PatchMaker.h"
#include "update/Checksum.h"

using namespace testing_support;

namespace {

// A release step as a rebuild makes it: scattered small changes and an insertion.
std::string Rebuilt(const std::string& strFrom, unsigned nSeed) {
    std::string s = strFrom;
    for (size_t at : {size_t(70000), size_t(400000), size_t(900000)})
        s.replace(at + nSeed * 64, 512, SeededBytes(512, nSeed + static_cast<unsigned>(at)));
    s.insert(200000, SeededBytes(3000, nSeed));
    return s;
}

std::string PatchNameOf(const std::string& strBase, bool bSigned) {
    if (!bSigned)
        return net::PatchNameByCrc(strBase.size(), ChecksumUpdate(ChecksumStart(), strBase.data(), strBase.size()));
    unsigned char sha[32] = {};
    fw::BytesSha256(strBase.data(), strBase.size(), sha);
    return net::PatchNameBySha256(strBase.size(), sha);
}

enum class Tamper { kNone, kDamaged, kOtherBytes, kUnlisted };

class PatchRunTest : public RunTest {};

TEST_F(PatchRunTest, APatchLandsOnlyWhenItRebuildsTheListedFile) {
    std::string strPrivate, strPublic, strError, strWhy;
    unsigned char xy[KEY_PUBLIC_BYTES] = {};
    ASSERT_TRUE(CreateKeyPairPem(strPrivate, strPublic, strError) && ReadPublicKeyPem(strPublic, xy, strWhy));
    const std::string v0 = SeededBytes(1024 * 1024, 7), v1 = Rebuilt(v0, 1), v2 = Rebuilt(v1, 2);
    struct Case {
        const char* pszName;
        std::vector<std::string> releases;  // published in turn; the player holds the first
        bool bSigned;
        Tamper tamper;
        bool bPatched;  // the file comes as a patch
    } cases[] = {
        {"the live release's patch", {v0, v1}, false, Tamper::kNone, true},
        {"two releases behind", {v0, v1, v2}, false, Tamper::kNone, true},
        {"a damaged patch", {v0, v1}, false, Tamper::kDamaged, false},
        {"a patch that makes other bytes", {v0, v1}, false, Tamper::kOtherBytes, false},
        {"a signed patch", {v0, v1, v2}, true, Tamper::kNone, true},
        {"a damaged signed patch", {v0, v1}, true, Tamper::kDamaged, false},
        {"a patch the manifest doesn't list", {v0, v1}, true, Tamper::kUnlisted, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_strProduct = "patch" + std::to_string(&c - cases);
        CleanProgramFolder();
        const std::string strPem = c.bSigned ? strPrivate : std::string();
        for (const std::string& v : c.releases) {
            if (c.tamper == Tamper::kUnlisted) {
                ASSERT_TRUE(PublishSignedRelease(m_strProduct, {{"big.pak", v}}, strPem, static_cast<uint64_t>(time(nullptr))));
            } else {
                ASSERT_TRUE(PublishPatchedRelease(m_strProduct, {{"big.pak", v}}, 2, strPem));
            }
        }
        const std::string& newest = c.releases.back();
        std::string strPatch = SiteProductFilePath(m_strProduct, "patches\\big.pak\\" + PatchNameOf(v0, c.bSigned));
        std::string served = ReadWholeFile(strPatch);
        ASSERT_EQ(served.empty(), c.tamper == Tamper::kUnlisted);
        if (c.tamper == Tamper::kDamaged) served[served.size() / 2] ^= 0x55;
        if (c.tamper == Tamper::kOtherBytes) {
            ASSERT_TRUE(MakePatch(v0, Rebuilt(v0, 9), 3, served));
        }
        if (c.tamper == Tamper::kUnlisted) {
            CreateDirectoryA(SiteProductFilePath(m_strProduct, "patches").c_str(), nullptr);
            CreateDirectoryA(SiteProductFilePath(m_strProduct, "patches\\big.pak").c_str(), nullptr);
            ASSERT_TRUE(MakePatch(v0, newest, 3, served));
        }
        ASSERT_TRUE(WriteWholeFile(strPatch, served));
        ASSERT_TRUE(WriteWholeFile(m_strProgramDir + "big.pak", v0));
        size_t nLogged = NginxRequests().size();
        RecordingSession session;
        if (c.bSigned) session.settings.SetKey(xy);
        ASSERT_TRUE(RunAgainst(session, NginxPort()));
        EXPECT_TRUE(ReadWholeFile(m_strProgramDir + "big.pak") == newest);
        EXPECT_EQ(session.GetStatus(), TEXT_DONE);
        bool bAskedPatch = false, bAskedFile = false;
        for (const auto& r : NginxRequestsAfter(nLogged, 2)) {
            bAskedPatch = bAskedPatch || r.strPath.find("/patches/big.pak/") != std::string::npos;
            bAskedFile = bAskedFile || r.strPath.find("/release/big.pak") != std::string::npos;
        }
        EXPECT_EQ(bAskedPatch, c.tamper != Tamper::kUnlisted) << "a signed client asks for no patch it isn't signed";
        EXPECT_EQ(bAskedFile, !c.bPatched);
        for (const std::string& name : ListFolder(m_strProgramDir))
            EXPECT_TRUE(name.find(".part") == std::string::npos && name.find(".patch") == std::string::npos)
                << "left behind: " << name;
    }
}

}  // namespace
