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

// One try of the delta on the fetcher's server, at the file's address nAddress.
FetchResult DeltaAt(HttpFetcher& fetcher, const std::string& strProduct, const FileEntry& entry,
                    const std::string& strLocal, BodyCheck& check, BodyCheck& indexCheck, uint64_t nAddress) {
    const std::string strUrl = FileAddress(strProduct, entry.m_strDir, entry.m_strName, entry.m_nCrc, nAddress);
    const std::string strIndex = BlockIndexAddress(strProduct, entry.m_strDir, entry.m_strName, entry.m_nCrc, nAddress);
    char szUrl[kAddressCap], szIndex[kAddressCap];
    if (strUrl.size() >= sizeof szUrl || strIndex.size() >= sizeof szIndex) return FETCH_NOT_FOUND;
    std::memcpy(szUrl, strUrl.c_str(), strUrl.size() + 1);
    std::memcpy(szIndex, strIndex.c_str(), strIndex.size() + 1);
    return fetcher.FetchDelta(szUrl, szIndex, strLocal.c_str(), &check, &indexCheck);
}

}  // namespace

FetchResult UpdateSession::FetchChangedBlocks(HttpFetcher& fetcher, const FileEntry& entry,
                                              const std::string& strLocal, BodyCheck& check, uint64_t& nFresh) {
    if (!IsLargeInstalledFile(strLocal)) return FETCH_NOT_FOUND;
    IndexCheck sane;
    SignedCheck indexCheck(sane);
    if (!m_guard.HoldIndex(entry, indexCheck)) return FETCH_NOT_FOUND;
    // Each server in turn with its own delta; only a cut transfer is tried
    // again on one server. An index refused for what it is, or a scan that
    // gave up, ends the deltas: the mirrors carry the same index.
    FetchResult result = FETCH_NOT_FOUND;
    for (size_t n = 0; n < m_routes.Count() && !m_bCancel; ++n) {
        const size_t i = ServerInTurn(n, m_nServer);
        if (m_routes.Connection(i) == nullptr) continue;
        result = FetchWithRetries(
            [&](uint64_t nAddress) {
                return OnRoute(fetcher, i, [&] {
                    return DeltaAt(fetcher, m_strProduct, entry, strLocal, check, indexCheck, nAddress);
                });
            },
            false, nFresh);
        if (result == FETCH_DONE || result == FETCH_CANCELLED || result == FETCH_DISK_FULL || fetcher.DeltaHopeless())
            break;
    }
    return result;
}
