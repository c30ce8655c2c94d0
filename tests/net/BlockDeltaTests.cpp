// The pieces of a rebuilt download that need no server: finding blocks of
// the new file in an old one, and reading a multipart/byteranges body in
// whatever pieces the line delivers it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "net/BlockMatcher.h"
#include "net/ByteRanges.h"
#include "support/Releases.h"

using testing_support::SeededBytes;

namespace {

std::vector<net::ByteRange> MissingAfterScan(const std::string& strNew, const std::string& strOld) {
    net::BlockIndexBuilder builder(strNew.size(), 4096);
    builder.Update(strNew.data(), strNew.size());
    unsigned char sha[32] = {};
    std::string text = builder.Finish(sha);
    net::BlockIndex index;
    std::string why;
    EXPECT_TRUE(net::ParseBlockIndex(text.data(), text.size(), index, why)) << why;
    net::BlockMatcher matcher(index);
    EXPECT_TRUE(matcher.Scan(strOld.size(), [&](uint64_t nAt, void* p, size_t n) {
        std::memcpy(p, strOld.data() + nAt, n);
        return true;
    }));
    return matcher.MissingRanges();
}

TEST(BlockMatcher, FindsMovedBlocksAndLeavesOnlyTheChangedSpans) {
    const std::string base = SeededBytes(40000, 1);  // nine blocks of 4 KiB and a short last one
    std::string changed = base;
    changed.replace(10000, 100, SeededBytes(100, 2));
    // Three of the scan's 4 MiB read windows, and 1,000 bytes inserted just
    // before the first ends: the slide carries on across the refill.
    const size_t kWindow = 4u << 20, kAt = kWindow - 100;
    const std::string large = SeededBytes(3 * kWindow + 1234, 4);
    const std::string inserted = large.substr(0, kAt) + SeededBytes(1000, 5) + large.substr(kAt);
    struct Case { const char* what; std::string strNew, strOld; std::vector<net::ByteRange> missing; } cases[] = {
        {"same bytes", base, base, {}},
        {"one changed block", changed, base, {{8192, 4096}}},
        {"old shifted by one byte", base, "x" + base, {}},
        {"old cut short", base, base.substr(0, 20000), {{16384, 23616}}},
        {"old has nothing alike", base, SeededBytes(40000, 3), {{0, 40000}}},
        {"old is empty", base, "", {{0, 40000}}},
        {"new is all zeros, old has one zero block", std::string(12288, '\0'), std::string(4096, '\0') + "end", {}},
        {"old has bytes inserted across a read window", large, inserted, {{kWindow - 4096, 4096}}},
    };
    for (const Case& c : cases) EXPECT_EQ(MissingAfterScan(c.strNew, c.strOld), c.missing) << c.what;
}

TEST(ByteRanges, AMultipartBodyReadsTheSameInAnyPieces) {
    const std::string body =
        "\r\n--B7\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes 0-3/100\r\n\r\nabcd"
        "\r\n--B7\r\ncontent-range: bytes 50-51/100\r\n\r\nxy\r\n--B7--\r\n";
    struct Case { const char* what; std::string text; bool ok; } cases[] = {
        {"as a server sends it", body, true},
        {"with a preamble and bare line feeds", "preamble\n--B7\nContent-Range: bytes 0-3/100\n\nabcd\n--B7\n"
                                                "Content-Range: bytes 50-51/100\n\nxy\n--B7--\n", true},
        {"a part without its range", "\r\n--B7\r\nContent-Type: x\r\n\r\nabcd\r\n--B7--\r\n", false},
        {"cut in the second part", body.substr(0, body.size() - 12), false},
        {"a header line past any length", "\r\n--B7\r\n" + std::string(10000, 'h'), false},
    };
    for (const Case& c : cases) {
        for (size_t nPiece : {1, 3, 4096}) {
            size_t nAt = 0;
            net::MultipartReader reader(
                [&](void* p, size_t nMax, size_t* pnGot) {
                    *pnGot = std::min({nPiece, nMax, c.text.size() - nAt});
                    std::memcpy(p, c.text.data() + nAt, *pnGot);
                    nAt += *pnGot;
                    return true;
                },
                net::MultipartBoundary("multipart/byteranges; boundary=\"B7\""));
            std::string got;
            uint64_t nFirst = 0, nLast = 0, nTotal = 0;
            net::MultipartReader::Status status;
            while ((status = reader.NextPart(&nFirst, &nLast, &nTotal)) == net::MultipartReader::kOk) {
                got += std::to_string(nFirst) + "-" + std::to_string(nLast) + "/" + std::to_string(nTotal) + ":";
                char buf[8];
                size_t n = 0;
                while (reader.ReadBody(buf, sizeof buf, &n) == net::MultipartReader::kOk && n > 0) got.append(buf, n);
                got += ";";
            }
            EXPECT_EQ(c.ok, status == net::MultipartReader::kEnd) << c.what << ", pieces of " << nPiece;
            if (c.ok) {
                EXPECT_EQ(got, "0-3/100:abcd;50-51/100:xy;") << c.what << ", pieces of " << nPiece;
            }
        }
    }
    EXPECT_EQ(net::MultipartBoundary("text/plain"), "");
    EXPECT_EQ(net::MultipartBoundary("Multipart/Byteranges; boundary=00000000001"), "00000000001");
}

}  // namespace
