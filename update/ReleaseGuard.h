// What makes a run install only the publisher's releases: with a release key
// in force it fetches and judges filelist.sig before anything else, holds the
// list and every file to their signed size and SHA-256 while they arrive, and
// moves the accepted serial on once its list is taken. Without a key every
// check passes through and the run is the unsigned one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "net/FetchResult.h"
#include "update/FileList.h"
#include "update/Manifest.h"
#include "update/SignedBody.h"

// A body check that adds the signed size and SHA-256 to another one (the
// list's sanity bound, a file's CRC). Holding nothing, it is the other check.
class SignedCheck : public BodyCheck {
public:
    explicit SignedCheck(BodyCheck& inner) : m_inner(inner) {}
    SignedCheck(const SignedCheck&) = delete;
    SignedCheck& operator=(const SignedCheck&) = delete;

    // From now on the body must be exactly these bytes; a refusal also sets
    // *pRefused when given.
    void Hold(uint64_t nSize, const unsigned char sha256[MANIFEST_DIGEST_BYTES], std::atomic<bool>* pRefused);

    uint64_t MaxBytes() const override;
    bool AcceptsLength(uint64_t nLength) override;
    void Begin() override;
    void Update(const void* pData, size_t nSize) override;
    bool Accept() override;

private:
    void Refuse();

    BodyCheck& m_inner;
    bool m_bHeld = false;
    uint64_t m_nSize = 0;
    unsigned char m_sha256[MANIFEST_DIGEST_BYTES] = {};
    std::optional<SignedBody> m_body;  // one per attempt: Begin starts it afresh
    std::atomic<bool>* m_pRefused = nullptr;
};

class ReleaseGuard {
public:
    ReleaseGuard();  // the built-in key, or none
    ReleaseGuard(const ReleaseGuard&) = delete;
    ReleaseGuard& operator=(const ReleaseGuard&) = delete;

    // The key releases must verify with (X||Y, 64 bytes, copied), nullptr for
    // none. Not while a run goes on.
    void SetKey(const unsigned char* pKey);
    bool InForce() const { return m_bKeyed; }

    // A run's start, on its thread: without a key FETCH_DONE at once. With one
    // it fetches the product's filelist.sig into strLocalPath
    // and judges it: FETCH_DONE only for an accepted manifest; FETCH_REJECTED
    // for a refused one; the fetcher's result when it couldn't be fetched.
    // nFresh: as for ServerPaths' addresses (0: the usual one).
    // download fetches an address into a local file, asking caches to
    // check with the origin first.
    using Download = std::function<FetchResult(const std::string& strAddress, const std::string& strLocal,
                                               BodyCheck& check)>;
    FetchResult Start(const Download& download, const std::string& strProduct, const std::string& strProgramDir,
                      const std::string& strLocalPath, uint64_t nFresh = 0);
    // Holds the list's check to the signed list; ListRefused() tells afterwards
    // whether the list was there but not the signed one.
    void HoldList(SignedCheck& check);
    bool ListRefused() const { return m_bListRefused; }
    // Holds a file's check to its signed size and SHA-256; false when the
    // manifest doesn't sign the entry, which then must not be fetched. Safe
    // from the transfer workers at once.
    bool HoldFile(const FileEntry& entry, SignedCheck& check) const;
    // Holds the check of a file's block index to the size and SHA-256 the
    // manifest signs for it; false when it signs none (then no index may be
    // taken). True without a key: any index will do, the file is checked whole.
    bool HoldIndex(const FileEntry& entry, SignedCheck& check) const;
    // The same for the file's patch of this name (net/PatchName.h); false
    // when the manifest signs no such patch, which then must not be fetched.
    // True without a key: the patched file is checked whole.
    bool HoldPatch(const FileEntry& entry, const std::string& strPatchName, SignedCheck& check) const;
    // The signed size and SHA-256 of a listed file, by which an installed
    // copy is judged; nullptr without a key or when the manifest signs none.
    const ManifestFile* SignedFile(const FileEntry& entry) const;
    // Once the accepted release's list is taken: nothing older than this
    // release may install any more.
    void StoreSerial();
    // The accepted release's serial, 0 for none (or no key).
    uint64_t Serial() const { return m_bAccepted ? m_manifest.m_nSerial : 0; }

private:
    bool m_bKeyed = false;
    unsigned char m_key[MANIFEST_KEY_BYTES] = {};
    std::string m_strProduct;
    std::string m_strProgramDir;
    bool m_bAccepted = false;
    Manifest m_manifest;  // the accepted one; read-only while files travel
    std::atomic<bool> m_bListRefused{false};
};
