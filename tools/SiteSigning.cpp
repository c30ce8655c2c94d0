// The signed manifest of a published site and the key pair that signs it.
#include "tools/SiteSigning.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/BlockIndex.h"
#include "net/PatchName.h"
#include "tools/DiskFiles.h"
#include "tools/FileDigest.h"
#ifdef _WIN32
#include "tools/OwnerOnlyFile.h"
#endif
#include "tools/Signing.h"
#include "update/Manifest.h"

const char* const SIGNING_USAGE =
    "\n"
    "Signing (the client built with the matching public key installs nothing else):\n"
    "  publish keygen <dir>   writes <dir>/private.pem (owner only; keep it off the\n"
    "                         server and out of any repository) and <dir>/public.pem\n"
    "  --key <private.pem>    also writes filelist.sig into the new release before it\n"
    "                         goes live: sizes and SHA-256 of the list and of every\n"
    "                         file, signed; its serial is one more than the live\n"
    "                         release's and never below the current UTC time in seconds\n"
    "  --expires-days N       clients refuse the signed release N days after publishing\n"
    "                         (default: it never expires)\n";

namespace {

const uint64_t SECONDS_PER_DAY = 86400;
const unsigned EXPIRES_DAYS_MAX = 36500;

bool ReadWholeFile(const std::string& strPath, std::string& strText, size_t nMax) {
    FILE* f = fopen(strPath.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    strText.clear();
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && strText.size() <= nMax) strText.append(buf, n);
    bool bOk = !ferror(f) && strText.size() <= nMax;
    fclose(f);
    return bOk;
}

// Creates the file only if it doesn't exist, its bytes on the disk before it
// is closed; bPrivate keeps it to its owner.
bool WriteNewFile(const std::string& strPath, const std::string& strText, bool bPrivate) {
#ifdef _WIN32
    if (bPrivate) return WriteOwnerOnlyFile(strPath, strText);
    int fd = _open(strPath.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    bool bOk = fd >= 0 && _write(fd, strText.data(), static_cast<unsigned>(strText.size())) == static_cast<int>(strText.size());
    bOk = bOk && _commit(fd) == 0;
    if (fd >= 0 && _close(fd) != 0) bOk = false;
#else
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, bPrivate ? 0600 : 0644);
    bool bOk = fd >= 0 && write(fd, strText.data(), strText.size()) == static_cast<ssize_t>(strText.size());
    bOk = bOk && fsync(fd) == 0;
    if (fd >= 0 && close(fd) != 0) bOk = false;
#endif
    return bOk;
}

// The serial of the manifest a site holds now, 0 when it has none it can read.
uint64_t PreviousSerial(const std::string& strSigPath) {
    std::string strText;
    Manifest m;
    std::string strWhy;
    if (!ReadWholeFile(strSigPath, strText, MANIFEST_MAX_BYTES) || !ParseManifest(strText.data(), strText.size(), m, strWhy))
        return 0;
    return m.m_nSerial;
}

std::string ServedPath(const std::string& strRelease, const std::string& strRel) {
    std::string strPath = strRelease;
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = strRel.find('/', nStart)) != std::string::npos; nStart = nEnd + 1)
        strPath = DiskJoin(strPath, strRel.substr(nStart, nEnd - nStart));
    return DiskJoin(strPath, strRel.substr(nStart));
}

// A signed client takes an index only at the size and SHA-256 signed here.
bool AddBlockIndex(const PublishEntry& e, std::vector<ManifestFile>& files, std::string& strError) {
    ManifestFile f;
    f.m_strDir = net::BlockIndexManifestDir(e.m_strDir);
    f.m_strName = e.m_strName;
    f.m_nSize = e.m_strBlockIndex.size();
    if (!DigestBytes(e.m_strBlockIndex, f.m_sha256)) {
        strError = "can't hash the block index of " + e.m_strRelPath;
        return false;
    }
    files.push_back(f);
    return true;
}

// A signed client takes a patch only at the size and SHA-256 signed here:
// every patch the release serves for the file (net/PatchName.h).
bool AddPatches(const std::string& strPatches, const PublishEntry& e, std::vector<ManifestFile>& files,
                std::string& strError) {
    std::string strFolder = ServedPath(strPatches, e.m_strSiteRel.empty() ? e.m_strRelPath : e.m_strSiteRel);
    std::vector<DiskItem> items;
    if (DiskKindOf(strFolder) != DiskKind::Dir) return true;
    if (!DiskListFolder(strFolder, items)) {
        strError = "can't read the patches of " + e.m_strRelPath;
        return false;
    }
    for (const DiskItem& item : items) {
        ManifestFile f;
        f.m_strDir = net::PatchManifestDir(e.m_strDir, e.m_strName);
        f.m_strName = item.m_strName;
        if (item.m_nKind != DiskKind::File || !Sha256OfFile(DiskJoin(strFolder, item.m_strName), f.m_sha256, f.m_nSize)) {
            strError = "can't read the patch " + DiskJoin(strFolder, item.m_strName) + " to sign it";
            return false;
        }
        files.push_back(f);
    }
    return true;
}

// Each file's SHA-256 from the one read that also checked it while it was
// staged; the served copy is read only where that read didn't hash it.
bool HashServedFiles(const std::string& strRelease, const std::string& strPatches,
                     const std::vector<PublishEntry>& entries, std::vector<ManifestFile>& files,
                     std::string& strError) {
    for (const PublishEntry& e : entries) {
        if (e.m_bFolder) continue;
        ManifestFile f;
        f.m_strDir = e.m_strDir;
        f.m_strName = e.m_strName;
        f.m_nSize = e.m_nSize;
        std::copy(e.m_sha256, e.m_sha256 + sizeof e.m_sha256, f.m_sha256);
        // The site's names: GBK bytes, which differ from the release folder's on Linux.
        std::string strPath = ServedPath(strRelease, e.m_strSiteRel.empty() ? e.m_strRelPath : e.m_strSiteRel);
        if (!e.m_bHasSha256 && !Sha256OfFile(strPath, f.m_sha256, f.m_nSize)) {
            strError = "can't read " + strPath + " to sign it";
            return false;
        }
        files.push_back(f);
        if (!e.m_strBlockIndex.empty() && !AddBlockIndex(e, files, strError)) return false;
        if (!AddPatches(strPatches, e, files, strError)) return false;
    }
    return true;
}

}  // namespace

bool ParseExpiresDays(const std::string& strValue, unsigned& nDays) {
    char* pEnd = nullptr;
    unsigned long n = strtoul(strValue.c_str(), &pEnd, 10);
    if (strValue.empty() || strValue[0] < '0' || strValue[0] > '9' || *pEnd || n == 0 || n > EXPIRES_DAYS_MAX) {
        fprintf(stderr, "publish: --expires-days takes a number of days from 1 to %u\n", EXPIRES_DAYS_MAX);
        return false;
    }
    nDays = static_cast<unsigned>(n);
    return true;
}

bool LoadSigningKey(SigningOptions& opt, std::string& strError) {
    if (opt.m_strKeyPath.empty()) {
        strError = "--expires-days signs the release: it needs --key";
        return false;
    }
    if (!ReadWholeFile(opt.m_strKeyPath, opt.m_strKeyPem, 64 * 1024)) {
        strError = "can't read the key " + opt.m_strKeyPath;
        return false;
    }
    unsigned char sig[SIGN_SIGNATURE_BYTES], xy[SIGN_PUBLIC_BYTES];
    if (!SignMessagePem(opt.m_strKeyPem, "test", 4, sig, xy, strError)) {
        strError = opt.m_strKeyPath + ": " + strError;
        return false;
    }
    return true;
}

uint64_t NextSerial(uint64_t nPrevious, uint64_t nNow) {
    return nPrevious + 1 > nNow ? nPrevious + 1 : nNow;
}

bool SignReleaseFolder(const std::string& strRelease, const std::string& strPreviousSig, const std::string& strProduct,
                       const std::vector<PublishEntry>& entries, const SigningOptions& opt, uint64_t nNow,
                       std::string& strError) {
    std::string strList = DiskJoin(strRelease, "filelist.list");
    std::string strSig = DiskJoin(strRelease, "filelist.sig");
    unsigned char listSha[MANIFEST_DIGEST_BYTES];
    uint64_t nListSize = 0;
    std::vector<ManifestFile> files;
    if (!Sha256OfFile(strList, listSha, nListSize)) {
        strError = "can't read " + strList + " to sign it";
        return false;
    }
    if (!HashServedFiles(DiskJoin(strRelease, "release"), DiskJoin(strRelease, "patches"), entries, files, strError))
        return false;
    uint64_t nExpires = opt.m_nExpiresDays ? nNow + opt.m_nExpiresDays * SECONDS_PER_DAY : 0;
    std::string strBody = FormatManifestBody(strProduct, NextSerial(PreviousSerial(strPreviousSig), nNow), nExpires,
                                             nListSize, listSha, files);
    unsigned char sig[SIGN_SIGNATURE_BYTES], xy[SIGN_PUBLIC_BYTES];
    if (!SignMessagePem(opt.m_strKeyPem, strBody.data(), strBody.size(), sig, xy, strError)) return false;
    std::string strTemp = strSig + ".publishing";
    DiskRemove(strTemp);
    if (!WriteNewFile(strTemp, strBody + FormatSignatureLine(sig), false) || !DiskReplace(strTemp, strSig)) {
        DiskRemove(strTemp);
        strError = "can't write " + strSig;
        return false;
    }
    return true;
}

bool WriteSignedManifest(const std::string& strSite, const std::string& strProduct,
                         const std::vector<PublishEntry>& entries, const SigningOptions& opt, uint64_t nNow,
                         std::string& strError) {
    std::string strLive = DiskJoin(DiskJoin(strSite, "kroupdate"), strProduct);
    return SignReleaseFolder(strLive, DiskJoin(strLive, "filelist.sig"), strProduct, entries, opt, nNow, strError);
}

int KeygenInto(const std::string& strDir) {
    std::string strPrivate, strPublic, strError;
    std::string strPrivatePath = DiskJoin(strDir, "private.pem"), strPublicPath = DiskJoin(strDir, "public.pem");
    if (DiskKindOf(strPrivatePath) != DiskKind::Missing || DiskKindOf(strPublicPath) != DiskKind::Missing) {
        fprintf(stderr, "publish: %s already holds a key; keygen never overwrites one\n", strDir.c_str());
        return 1;
    }
    if (!DiskMakeFolder(strDir) || !CreateKeyPairPem(strPrivate, strPublic, strError) ||
        !WriteNewFile(strPrivatePath, strPrivate, true) || !WriteNewFile(strPublicPath, strPublic, false)) {
        fprintf(stderr, "publish: can't write a key pair into %s%s%s\n", strDir.c_str(), strError.empty() ? "" : ": ",
                strError.c_str());
        return 1;
    }
    printf("publish: wrote %s (keep it secret) and %s (build the client with -DUPDATE_PUBLIC_KEY=%s)\n",
           strPrivatePath.c_str(), strPublicPath.c_str(), strPublicPath.c_str());
    return 0;
}
