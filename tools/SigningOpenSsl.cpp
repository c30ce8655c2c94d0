// The native publisher's cryptography on OpenSSL's libcrypto (3.0 API).
#include "tools/Signing.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

namespace {

struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

std::string BioText(BIO* bio) {
    char* p = nullptr;
    long n = BIO_get_mem_data(bio, &p);
    return n > 0 ? std::string(p, static_cast<size_t>(n)) : std::string();
}

bool PublicPoint(EVP_PKEY* key, unsigned char xy[SIGN_PUBLIC_BYTES]) {
    unsigned char point[1 + SIGN_PUBLIC_BYTES];
    size_t n = 0;
    if (!EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &n) ||
        n != sizeof point || point[0] != 0x04)
        return false;
    std::copy(point + 1, point + sizeof point, xy);
    return true;
}

bool IsP256(EVP_PKEY* key) {
    char szCurve[64] = {};
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, szCurve, sizeof szCurve, nullptr) &&
           std::string(szCurve) == "prime256v1";
}

// DER ECDSA-Sig-Value to r||s.
bool RawSignature(const unsigned char* pDer, size_t nDer, unsigned char sig[SIGN_SIGNATURE_BYTES]) {
    Owned<ECDSA_SIG> s(d2i_ECDSA_SIG(nullptr, &pDer, static_cast<long>(nDer)));
    return s && BN_bn2binpad(ECDSA_SIG_get0_r(s.get()), sig, 32) == 32 &&
           BN_bn2binpad(ECDSA_SIG_get0_s(s.get()), sig + 32, 32) == 32;
}

}  // namespace

bool CreateKeyPairPem(std::string& strPrivatePem, std::string& strPublicPem, std::string& strError) {
    Owned<EVP_PKEY> key(EVP_EC_gen("prime256v1"));
    Owned<BIO> priv(BIO_new(BIO_s_mem())), pub(BIO_new(BIO_s_mem()));
    if (!key || !priv || !pub || !PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_PUBKEY(pub.get(), key.get())) {
        strError = "OpenSSL could not make a P-256 key";
        return false;
    }
    strPrivatePem = BioText(priv.get());
    strPublicPem = BioText(pub.get());
    return true;
}

bool SignMessagePem(const std::string& strPrivatePem, const void* pMessage, size_t nSize,
                    unsigned char sig[SIGN_SIGNATURE_BYTES], unsigned char xy[SIGN_PUBLIC_BYTES],
                    std::string& strError) {
    Owned<BIO> bio(BIO_new_mem_buf(strPrivatePem.data(), static_cast<int>(strPrivatePem.size())));
    Owned<EVP_PKEY> key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || !IsP256(key.get()) || !PublicPoint(key.get(), xy)) {
        strError = "not an unencrypted P-256 private key in PEM";
        return false;
    }
    Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    unsigned char der[80];
    size_t nDer = sizeof der;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), der, &nDer, static_cast<const unsigned char*>(pMessage), nSize) != 1 ||
        !RawSignature(der, nDer, sig)) {
        strError = "OpenSSL could not sign";
        return false;
    }
    return true;
}

bool VerifyMessageRaw(const unsigned char xy[SIGN_PUBLIC_BYTES], const void* pMessage, size_t nSize,
                      const unsigned char sig[SIGN_SIGNATURE_BYTES]) {
    unsigned char point[1 + SIGN_PUBLIC_BYTES] = {0x04};
    std::copy(xy, xy + SIGN_PUBLIC_BYTES, point + 1);
    Owned<EVP_PKEY_CTX> pctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* pRaw = nullptr;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point), OSSL_PARAM_construct_end()};
    if (!pctx || EVP_PKEY_fromdata_init(pctx.get()) != 1 ||
        EVP_PKEY_fromdata(pctx.get(), &pRaw, EVP_PKEY_PUBLIC_KEY, params) != 1)
        return false;
    Owned<EVP_PKEY> key(pRaw);
    Owned<ECDSA_SIG> s(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(sig, 32, nullptr);
    BIGNUM* sv = BN_bin2bn(sig + 32, 32, nullptr);
    if (!s || !r || !sv || !ECDSA_SIG_set0(s.get(), r, sv)) {
        BN_free(r);
        BN_free(sv);
        return false;
    }
    unsigned char* pDer = nullptr;
    int nDer = i2d_ECDSA_SIG(s.get(), &pDer);
    Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    bool bOk = nDer > 0 && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
               EVP_DigestVerify(ctx.get(), pDer, static_cast<size_t>(nDer), static_cast<const unsigned char*>(pMessage),
                                nSize) == 1;
    OPENSSL_free(pDer);
    return bOk;
}

bool Sha256OfFile(const std::string& strPath, unsigned char digest[SIGN_DIGEST_BYTES], uint64_t& nSize) {
    FILE* f = fopen(strPath.c_str(), "rb");
    if (!f) return false;
    Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    bool bOk = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
    unsigned char buf[65536];
    size_t n;
    nSize = 0;
    while (bOk && (n = fread(buf, 1, sizeof buf, f)) > 0) {
        bOk = EVP_DigestUpdate(ctx.get(), buf, n) == 1;
        nSize += n;
    }
    bOk = bOk && !ferror(f) && EVP_DigestFinal_ex(ctx.get(), digest, nullptr) == 1;
    fclose(f);
    return bOk;
}

struct Sha256Stream::Impl {
    Owned<EVP_MD_CTX> m_ctx{EVP_MD_CTX_new()};
    bool m_bOk = m_ctx && EVP_DigestInit_ex(m_ctx.get(), EVP_sha256(), nullptr) == 1;
};

Sha256Stream::Sha256Stream() : m_impl(new Impl) {}
Sha256Stream::~Sha256Stream() = default;

bool Sha256Stream::Update(const void* pData, size_t nSize) {
    m_impl->m_bOk = m_impl->m_bOk && EVP_DigestUpdate(m_impl->m_ctx.get(), pData, nSize) == 1;
    return m_impl->m_bOk;
}

bool Sha256Stream::Finish(unsigned char digest[SIGN_DIGEST_BYTES]) {
    bool bOk = m_impl->m_bOk && EVP_DigestFinal_ex(m_impl->m_ctx.get(), digest, nullptr) == 1;
    m_impl->m_bOk = false;
    return bOk;
}
