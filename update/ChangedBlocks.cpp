// A changed file of some size comes as the blocks that differ from the
// installed copy, where the server has the file's block index; anything amiss
// on that way leaves the whole file to the run's usual way.
#include <windows.h>

#include <cstring>

#include "net/BlockIndex.h"
#include "update/ServerPaths.h"
#include "update/UpdateSession.h"

namespace {

// Takes any index of a sane size; a signed release adds its signed digest.
class IndexCheck : public BodyCheck {
public:
    uint64_t MaxBytes() const override { return net::BLOCK_INDEX_MAX_BYTES; }
    void Begin() override {}
    void Update(const void*, size_t) override {}
    bool Accept() override { return true; }
};

bool IsLargeInstalledFile(const std::string& strLocal) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(strLocal.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    uint64_t nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return nSize >= net::DELTA_MIN_BYTES;
}

}  // namespace

FetchResult UpdateSession::FetchChangedBlocks(HttpFetcher& fetcher, const FileEntry& entry,
                                              const std::string& strLocal, BodyCheck& check, uint64_t& nFresh) {
    if (!IsLargeInstalledFile(strLocal)) return FETCH_NOT_FOUND;
    IndexCheck sane;
    SignedCheck indexCheck(sane);
    if (!m_guard.HoldIndex(entry, indexCheck)) return FETCH_NOT_FOUND;
    // Only a cut transfer is tried again here: any other failure falls back.
    return FetchWithRetries(
        [&](uint64_t nAddress) {
            const std::string strUrl = FileAddress(m_strProduct, entry.m_strDir, entry.m_strName, entry.m_nCrc, nAddress);
            const std::string strIndex =
                BlockIndexAddress(m_strProduct, entry.m_strDir, entry.m_strName, entry.m_nCrc, nAddress);
            char szUrl[kAddressCap], szIndex[kAddressCap];
            if (strUrl.size() >= sizeof szUrl || strIndex.size() >= sizeof szIndex) return FETCH_NOT_FOUND;
            std::memcpy(szUrl, strUrl.c_str(), strUrl.size() + 1);
            std::memcpy(szIndex, strIndex.c_str(), strIndex.size() + 1);
            return fetcher.FetchDelta(szUrl, szIndex, strLocal.c_str(), &check, &indexCheck);
        },
        false, nFresh);
}
