// Reading a file once for its size, checksum, SHA-256 and block index.
#include "tools/FileDigest.h"

#include <cstdio>
#include <memory>

#include "net/BlockIndex.h"
#include "update/Checksum.h"

namespace {

const size_t READ_PIECE = 256 * 1024;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

// 64-bit positions in both builds: released files may pass 4 GiB.
bool SizeOfOpenFile(FILE* f, uint64_t& nSize) {
#ifdef _WIN32
    if (_fseeki64(f, 0, SEEK_END) != 0) return false;
    long long nEnd = _ftelli64(f);
    if (nEnd < 0 || _fseeki64(f, 0, SEEK_SET) != 0) return false;
#else
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    long long nEnd = static_cast<long long>(ftello(f));
    if (nEnd < 0 || fseeko(f, 0, SEEK_SET) != 0) return false;
#endif
    nSize = static_cast<uint64_t>(nEnd);
    return true;
}

}  // namespace

bool DigestFile(const std::string& strPath, const DigestWants& wants, FileDigest& digest) {
    std::unique_ptr<FILE, FileCloser> file(fopen(strPath.c_str(), "rb"));
    uint64_t nSize = 0;
    if (!file || !SizeOfOpenFile(file.get(), nSize)) return false;
    // An index past what clients read would only cost disk.
    bool bIndex = wants.m_nIndexMin != 0 && nSize >= wants.m_nIndexMin &&
                  net::BlockIndexBytesFor(nSize) <= net::BLOCK_INDEX_MAX_BYTES;
    // The index carries the file's SHA-256, so an indexed file is hashed anyway.
    bool bSha = wants.m_bSha256 || bIndex;
    std::unique_ptr<net::BlockIndexBuilder> index(bIndex ? new net::BlockIndexBuilder(nSize) : nullptr);
    std::unique_ptr<Sha256Stream> sha(bSha ? new Sha256Stream : nullptr);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[READ_PIECE]);
    uint32_t nCrc = ChecksumStart();
    uint64_t nRead = 0;
    size_t n;
    while ((n = fread(buffer.get(), 1, READ_PIECE, file.get())) > 0) {
        nCrc = ChecksumUpdate(nCrc, buffer.get(), n);
        if (sha && !sha->Update(buffer.get(), n)) return false;
        if (index) index->Update(buffer.get(), n);
        nRead += n;
    }
    if (ferror(file.get()) || nRead != nSize) return false;
    FileDigest result;
    result.m_nSize = nSize;
    result.m_nCrc = nCrc;
    if (sha && !(result.m_bHasSha256 = sha->Finish(result.m_sha256))) return false;
    if (index && (result.m_strBlockIndex = index->Finish(result.m_sha256)).empty()) return false;
    digest = std::move(result);
    return true;
}

bool DigestBytes(const std::string& strBytes, unsigned char sha256[SIGN_DIGEST_BYTES]) {
    Sha256Stream sha;
    return sha.Update(strBytes.data(), strBytes.size()) && sha.Finish(sha256);
}
