// Reading, judging and writing the signed manifest of a release.
#include "update/Manifest.h"

#include <algorithm>
#include <cstring>

#include "update/FileList.h"
#include "update/PathRules.h"

namespace {

const char* const HEADER_TAG = "manifest";
const char* const SIGNATURE_TAG = "signature:";
const size_t HEADER_FIELDS = 7;
const size_t FILE_FIELDS = 4;

// Splits at every ':' (no GBK trail byte is ':'), keeping empty fields.
std::vector<std::string> SplitFields(const char* p, size_t n) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == ':') fields.emplace_back();
        else fields.back() += p[i];
    }
    return fields;
}

bool HasControlByte(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) < 0x20 || p[i] == 0x7F) return true;
    return false;
}

bool ParseDecimal(const std::string& s, uint64_t& nValue) {
    if (s.empty() || s.size() > 20 || (s.size() > 1 && s[0] == '0')) return false;
    uint64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        uint64_t nDigit = static_cast<uint64_t>(c - '0');
        if (n > (UINT64_MAX - nDigit) / 10) return false;
        n = n * 10 + nDigit;
    }
    nValue = n;
    return true;
}

const std::string& RootAlike(const std::string& strDir) {
    static const std::string s_root("/");
    return strDir == "\\" ? s_root : strDir;
}

int CompareFoldedAZ(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int ComparePath(const std::string& strDirA, const std::string& strNameA, const std::string& strDirB,
                const std::string& strNameB) {
    int n = CompareFoldedAZ(RootAlike(strDirA), RootAlike(strDirB));
    return n != 0 ? n : CompareFoldedAZ(strNameA, strNameB);
}

bool ParseHeader(const std::vector<std::string>& f, Manifest& m, std::string& strWhy) {
    if (f.size() != HEADER_FIELDS || f[0] != HEADER_TAG) {
        strWhy = "the first line is no manifest header";
        return false;
    }
    uint64_t nVersion = 0;
    if (!ParseDecimal(f[1], nVersion) || nVersion != MANIFEST_VERSION) {
        strWhy = "format version " + f[1] + " is not ours";
        return false;
    }
    m.m_strProduct = f[2];
    if (f[2].empty() || f[2].size() > MANIFEST_PRODUCT_MAX) strWhy = "the product name is empty or too long";
    else if (!ParseDecimal(f[3], m.m_nSerial)) strWhy = "the serial is no number";
    else if (!ParseDecimal(f[4], m.m_nExpires)) strWhy = "the expiry time is no number";
    else if (!ParseDecimal(f[5], m.m_nListSize)) strWhy = "the list's size is no number";
    else if (!FromHex(f[6], m.m_listSha256, MANIFEST_DIGEST_BYTES)) strWhy = "the list's SHA-256 is malformed";
    return strWhy.empty();
}

bool ParseFileLine(const std::vector<std::string>& f, ManifestFile& file) {
    if (f.size() != FILE_FIELDS) return false;
    if (!ParseDecimal(f[0], file.m_nSize) || !FromHex(f[1], file.m_sha256, MANIFEST_DIGEST_BYTES)) return false;
    file.m_strDir = f[2];
    file.m_strName = f[3];
    return !f[2].empty() && !f[3].empty() && f[2].size() <= LIST_FIELD_MAX && f[3].size() <= LIST_FIELD_MAX;
}

// The signature line closes the text; everything before it is signed.
bool SplitSignature(const char* p, size_t n, Manifest& m, std::string& strWhy) {
    if (n == 0 || p[n - 1] != '\n') {
        strWhy = "the text doesn't end with a line end";
        return false;
    }
    size_t nStart = n - 1;
    while (nStart > 0 && p[nStart - 1] != '\n') --nStart;
    const size_t nTag = strlen(SIGNATURE_TAG);
    std::string strHex(p + nStart, n - 1 - nStart);
    if (nStart == 0 || strHex.compare(0, nTag, SIGNATURE_TAG) != 0 ||
        !FromHex(strHex.substr(nTag), m.m_signature, MANIFEST_SIGNATURE_BYTES)) {
        strWhy = "the last line is no signature";
        return false;
    }
    m.m_nSignedBytes = nStart;
    return true;
}

bool SortAndCheckUnique(std::vector<ManifestFile>& files, std::string& strWhy) {
    std::sort(files.begin(), files.end(), [](const ManifestFile& a, const ManifestFile& b) {
        return ComparePath(a.m_strDir, a.m_strName, b.m_strDir, b.m_strName) < 0;
    });
    for (size_t i = 1; i < files.size(); ++i)
        if (ComparePath(files[i - 1].m_strDir, files[i - 1].m_strName, files[i].m_strDir, files[i].m_strName) == 0) {
            strWhy = "the file " + files[i].m_strDir + ":" + files[i].m_strName + " is listed twice";
            return false;
        }
    return true;
}

}  // namespace

const ManifestFile* Manifest::Find(const std::string& strDir, const std::string& strName) const {
    auto it = std::lower_bound(m_files.begin(), m_files.end(), 0, [&](const ManifestFile& f, int) {
        return ComparePath(f.m_strDir, f.m_strName, strDir, strName) < 0;
    });
    if (it == m_files.end() || ComparePath(it->m_strDir, it->m_strName, strDir, strName) != 0) return nullptr;
    return &*it;
}

bool ParseManifest(const void* pText, size_t nSize, Manifest& manifest, std::string& strWhy) {
    if (nSize > MANIFEST_MAX_BYTES) {
        strWhy = "larger than " + std::to_string(MANIFEST_MAX_BYTES) + " bytes";
        return false;
    }
    const char* p = static_cast<const char*>(pText);
    Manifest m;
    if (!SplitSignature(p, nSize, m, strWhy)) return false;
    size_t nLine = 0;
    for (size_t nStart = 0; nStart < m.m_nSignedBytes; ++nLine) {
        size_t nEnd = nStart;
        while (p[nEnd] != '\n') ++nEnd;  // the signed part ends with a line end
        if (HasControlByte(p + nStart, nEnd - nStart)) {
            strWhy = "line " + std::to_string(nLine + 1) + " holds a control character";
            return false;
        }
        std::vector<std::string> fields = SplitFields(p + nStart, nEnd - nStart);
        if (nLine == 0) {
            if (!ParseHeader(fields, m, strWhy)) return false;
        } else {
            m.m_files.emplace_back();
            if (!ParseFileLine(fields, m.m_files.back())) {
                strWhy = "line " + std::to_string(nLine + 1) + " is no file line";
                return false;
            }
        }
        nStart = nEnd + 1;
    }
    if (!SortAndCheckUnique(m.m_files, strWhy)) return false;
    manifest = std::move(m);
    return true;
}

ManifestVerdict CheckManifest(const void* pText, size_t nSize, const unsigned char key[MANIFEST_KEY_BYTES],
                              SignatureCheck check, const std::string& strProduct, uint64_t nLastSerial,
                              uint64_t nNow, Manifest& manifest, std::string& strWhy) {
    Manifest m;
    if (!ParseManifest(pText, nSize, m, strWhy)) return ManifestVerdict::Malformed;
    if (!check || !check(key, pText, m.m_nSignedBytes, m.m_signature)) {
        strWhy = "the signature doesn't verify with the built-in key";
        return ManifestVerdict::BadSignature;
    }
    if (!EqualsNoCaseAZ(m.m_strProduct, strProduct)) {
        strWhy = "signed for the product " + m.m_strProduct + ", not " + strProduct;
        return ManifestVerdict::OtherProduct;
    }
    if (m.m_nSerial < nLastSerial) {
        strWhy = "serial " + std::to_string(m.m_nSerial) + " is older than the accepted " + std::to_string(nLastSerial);
        return ManifestVerdict::OlderSerial;
    }
    if (m.m_nExpires != 0 && nNow >= m.m_nExpires) {
        strWhy = "expired at " + std::to_string(m.m_nExpires) + " (now " + std::to_string(nNow) + ")";
        return ManifestVerdict::Expired;
    }
    manifest = std::move(m);
    strWhy.clear();
    return ManifestVerdict::Accepted;
}

std::string FormatManifestBody(const std::string& strProduct, uint64_t nSerial, uint64_t nExpires,
                               uint64_t nListSize, const unsigned char listSha256[MANIFEST_DIGEST_BYTES],
                               const std::vector<ManifestFile>& files) {
    std::string s = std::string(HEADER_TAG) + ":" + std::to_string(MANIFEST_VERSION) + ":" + strProduct + ":" +
                    std::to_string(nSerial) + ":" + std::to_string(nExpires) + ":" + std::to_string(nListSize) +
                    ":" + ToHex(listSha256, MANIFEST_DIGEST_BYTES) + "\n";
    for (const ManifestFile& f : files)
        s += std::to_string(f.m_nSize) + ":" + ToHex(f.m_sha256, MANIFEST_DIGEST_BYTES) + ":" + f.m_strDir + ":" +
             f.m_strName + "\n";
    return s;
}

std::string FormatSignatureLine(const unsigned char sig[MANIFEST_SIGNATURE_BYTES]) {
    return SIGNATURE_TAG + ToHex(sig, MANIFEST_SIGNATURE_BYTES) + "\n";
}

std::string ToHex(const unsigned char* p, size_t nSize) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(nSize * 2);
    for (size_t i = 0; i < nSize; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
    return s;
}

bool FromHex(const std::string& strHex, unsigned char* p, size_t nSize) {
    if (strHex.size() != nSize * 2) return false;
    auto value = [](char c) { return c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1); };
    for (size_t i = 0; i < nSize; ++i) {
        int hi = value(strHex[2 * i]), lo = value(strHex[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        p[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    return true;
}
