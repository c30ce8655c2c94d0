// The signed release of a run: its manifest fetched and judged first, then
// the list and each file held to what it signs, and its serial kept.
#include "update/ReleaseGuard.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "framework/EcdsaP256.h"
#include "framework/SupportLog.h"
#include "net/BlockIndex.h"
#include "net/PatchName.h"
#include "update/SerialStore.h"
#include "update/ServerPaths.h"
#include "update/UpdateKey.h"

namespace {

// Collects filelist.sig as it arrives and judges it once whole, so that a
// refused manifest never replaces the stored copy.
class ManifestBody : public BodyCheck {
public:
    ManifestBody(const unsigned char* pKey, const std::string& strProduct, uint64_t nLastSerial, Manifest& manifest)
        : m_pKey(pKey), m_strProduct(strProduct), m_nLastSerial(nLastSerial), m_manifest(manifest) {}

    uint64_t MaxBytes() const override { return MANIFEST_MAX_BYTES; }
    void Begin() override {
        m_strText.clear();
        m_bLost = false;
    }
    void Update(const void* pData, size_t nSize) override {
        try {
            m_strText.append(static_cast<const char*>(pData), nSize);
        } catch (const std::bad_alloc&) {
            m_bLost = true;
        }
    }
    bool Accept() override {
        if (m_bLost) return false;
        std::string strWhy;
        ManifestVerdict verdict = CheckManifest(m_strText.data(), m_strText.size(), m_pKey, fw::EcdsaP256VerifyMessage,
                                                m_strProduct, m_nLastSerial, UtcSecondsNow(), m_manifest, strWhy);
        if (verdict == ManifestVerdict::Accepted) return true;
        fw::LogFailure(("ReleaseGuard: filelist.sig refused: " + strWhy).c_str());
        return false;
    }

private:
    const unsigned char* m_pKey;
    const std::string& m_strProduct;
    uint64_t m_nLastSerial;
    Manifest& m_manifest;
    std::string m_strText;
    bool m_bLost = false;  // memory ran out: no verdict possible
};

}  // namespace

void SignedCheck::Hold(uint64_t nSize, const unsigned char sha256[MANIFEST_DIGEST_BYTES], std::atomic<bool>* pRefused) {
    m_bHeld = true;
    m_nSize = nSize;
    std::memcpy(m_sha256, sha256, sizeof m_sha256);
    m_pRefused = pRefused;
}

void SignedCheck::Refuse() {
    if (m_pRefused) *m_pRefused = true;
}

// The signed size is judged in AcceptsLength, where a refusal is noted; the
// fetcher never reads past the announced length it accepted.
uint64_t SignedCheck::MaxBytes() const { return m_inner.MaxBytes(); }

bool SignedCheck::AcceptsLength(uint64_t nLength) {
    if (!m_inner.AcceptsLength(nLength)) return false;
    if (!m_bHeld || nLength == m_nSize) return true;
    fw::LogFailure("ReleaseGuard: Content-Length differs from the signed size");
    Refuse();
    return false;
}

void SignedCheck::Begin() {
    m_inner.Begin();
    if (m_bHeld) m_body.emplace(m_nSize, m_sha256);
}

// A body that still went past the signed size fails SignedBody and so Accept.
void SignedCheck::Update(const void* pData, size_t nSize) {
    m_inner.Update(pData, nSize);
    if (m_body) m_body->Take(pData, nSize);
}

bool SignedCheck::Accept() {
    bool bInner = m_inner.Accept();
    if (!m_body) return bInner;
    bool bSigned = m_body->Complete();
    if (!bSigned) {
        fw::LogFailure("ReleaseGuard: body differs from its signed SHA-256");
        Refuse();
    }
    return bInner && bSigned;
}

ReleaseGuard::ReleaseGuard() { SetKey(BuiltInUpdateKey()); }

void ReleaseGuard::SetKey(const unsigned char* pKey) {
    m_bKeyed = pKey != nullptr;
    if (pKey) std::memcpy(m_key, pKey, sizeof m_key);
}

FetchResult ReleaseGuard::Start(const Download& download, const std::string& strProduct,
                                const std::string& strProgramDir, const std::string& strLocalPath, uint64_t nFresh) {
    m_strProduct = strProduct;
    m_strProgramDir = strProgramDir;
    m_bAccepted = false;
    m_bListRefused = false;
    m_manifest = Manifest();
    if (!m_bKeyed) return FETCH_DONE;
    std::string strUrl = SignatureAddress(strProduct, nFresh);
    if (ServerPath(strProduct, "filelist.sig").size() >= MAX_PATH || strUrl.size() >= kAddressCap ||
        strLocalPath.size() >= MAX_PATH)
        return FETCH_NOT_FOUND;
    ManifestBody check(m_key, strProduct, ReadAcceptedSerial(strProgramDir, strProduct), m_manifest);
    FetchResult result = download(strUrl, strLocalPath, check);
    m_bAccepted = result == FETCH_DONE;
    return result;
}

void ReleaseGuard::HoldList(SignedCheck& check) {
    if (m_bKeyed) check.Hold(m_manifest.m_nListSize, m_manifest.m_listSha256, &m_bListRefused);
}

bool ReleaseGuard::HoldFile(const FileEntry& entry, SignedCheck& check) const {
    if (!m_bKeyed) return true;
    const ManifestFile* pFile = m_bAccepted ? m_manifest.Find(entry.m_strDir, entry.m_strName) : nullptr;
    if (!pFile) {
        fw::LogFailure(("ReleaseGuard: not in the signed manifest: " + entry.m_strName).c_str());
        return false;
    }
    check.Hold(pFile->m_nSize, pFile->m_sha256, nullptr);
    return true;
}

bool ReleaseGuard::HoldIndex(const FileEntry& entry, SignedCheck& check) const {
    if (!m_bKeyed) return true;
    const ManifestFile* pIndex =
        m_bAccepted ? m_manifest.Find(net::BlockIndexManifestDir(entry.m_strDir), entry.m_strName) : nullptr;
    if (!pIndex) return false;
    check.Hold(pIndex->m_nSize, pIndex->m_sha256, nullptr);
    return true;
}

bool ReleaseGuard::HoldPatch(const FileEntry& entry, const std::string& strPatchName, SignedCheck& check) const {
    if (!m_bKeyed) return true;
    const ManifestFile* pPatch =
        m_bAccepted ? m_manifest.Find(net::PatchManifestDir(entry.m_strDir, entry.m_strName), strPatchName) : nullptr;
    if (!pPatch) return false;
    check.Hold(pPatch->m_nSize, pPatch->m_sha256, nullptr);
    return true;
}

const ManifestFile* ReleaseGuard::SignedFile(const FileEntry& entry) const {
    return m_bKeyed && m_bAccepted ? m_manifest.Find(entry.m_strDir, entry.m_strName) : nullptr;
}

void ReleaseGuard::StoreSerial() {
    if (m_bKeyed && m_bAccepted && !WriteAcceptedSerial(m_strProgramDir, m_strProduct, m_manifest.m_nSerial))
        fw::LogFailure("ReleaseGuard: the accepted serial could not be stored");
}
