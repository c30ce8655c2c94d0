// The arithmetic of a transfer: length parsing, progress share, speed, steps.
#include <gtest/gtest.h>

#include <vector>

#include "net/TransferMath.h"

namespace {

TEST(TransferMath, LengthsAndRangesAreDecimalsOfAnyFileSize) {
    struct Case { const char* text; bool ok; uint64_t value; };
    const Case cases[] = {
        {"0", true, 0},
        {"1000000", true, 1000000},
        {"4294967296", true, 4294967296ull},  // 4 GiB: past 32 bits
        {"4400000000", true, 4400000000ull},
        {"9223372036854775807", true, 9223372036854775807ull},
        {"9223372036854775808", false, 0},
        {"99999999999999999999", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"12a", false, 0},
        {" 12", false, 0},
    };
    for (const Case& c : cases) {
        uint64_t value = 777;
        EXPECT_EQ(c.ok, net::ParseContentLength(c.text, &value)) << "text \"" << c.text << "\"";
        if (c.ok) {
            EXPECT_EQ(c.value, value) << "text \"" << c.text << "\"";
        }
    }
    uint64_t value = 0;
    EXPECT_FALSE(net::ParseContentLength(nullptr, &value));

    struct RangeCase { const char* text; bool ok; uint64_t first, last, total; };
    const RangeCase ranges[] = {
        {"bytes 0-99/100", true, 0, 99, 100},
        {"Bytes  4300000000-4399999999/4400000000", true, 4300000000ull, 4399999999ull, 4400000000ull},
        {"bytes 5-4/100", false, 0, 0, 0},
        {"bytes 0-100/100", false, 0, 0, 0},
        {"bytes 0-99/*", false, 0, 0, 0},
        {"bytes */100", false, 0, 0, 0},
        {"items 0-99/100", false, 0, 0, 0},
        {"bytes 0-99/100 x", false, 0, 0, 0},
    };
    for (const RangeCase& c : ranges) {
        uint64_t first = 1, last = 1, total = 1;
        EXPECT_EQ(c.ok, net::ParseContentRange(c.text, &first, &last, &total)) << c.text;
        if (c.ok) {
            EXPECT_EQ((std::vector<uint64_t>{c.first, c.last, c.total}), (std::vector<uint64_t>{first, last, total}))
                << c.text;
        }
    }
}

TEST(TransferMath, ProgressShareIsTruncatedTenThousandths) {
    struct Case { uint64_t received, size; int share; };
    const Case cases[] = {
        {0, 1000000, 0},
        {1, 3, 3333},
        {2, 3, 6666},
        {999999, 1000000, 9999},
        {1000000, 1000000, 10000},
        {4294967295u, 4294967295u, 10000},
        {4294967294u, 4294967295u, 9999},
        {2200000000ull, 4400000000ull, 5000},  // past 32 bits
        {4399999999ull, 4400000000ull, 9999},
        {0, 0, 10000},  // an empty file is complete
        {5, 4, 10000},  // never above full
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.share, net::ProgressShare(c.received, c.size))
            << c.received << " of " << c.size;
    }
}

TEST(TransferMath, TotalCountsEndedEntriesAndTheShownFile) {
    const struct { int nIndex, nCount, nFile, nTotal; } cases[] = {
        {2, 4, 5000, 6250},  // halfway through the third of four
        {0, 3, 10000, 3333}, {1, 3, 0, 3333}, {0, 0, 5000, 0}, {999999, 1000000, 10000, 9999},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.nTotal, net::TotalProgress(c.nIndex, c.nCount, c.nFile)) << c.nIndex << "/" << c.nCount;
}

TEST(TransferMath, SpeedIsBytesPerSecondWithoutOverflow) {
    struct Case { uint64_t bytes; uint32_t ms, speed; };
    const Case cases[] = {
        {30000, 3000, 10000},
        {0, 3000, 0},
        {10, 0, 0},
        {100000000, 3000, 33333333},  // bytes x 1000 passes 32 bits
        {4294967295u, 1, 4294967295u},
        {6000000000ull, 3000, 2000000000u},  // a window past 4 GiB
        {1ull << 60, 3000, 4294967295u},
        {1000, 3001, 333},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.speed, net::BytesPerSecond(c.bytes, c.ms)) << c.bytes << " bytes in " << c.ms << " ms";
    }
}

TEST(TransferMath, ReadsGrowWithTheRateUpToTheBuffer) {
    const uint32_t kBuffer = 256 * 1024;
    struct Case { const char* what; uint32_t available, received, ms, size; };
    const Case cases[] = {
        {"nothing known asks for the whole buffer", 0, 0, 0, kBuffer},
        {"what has arrived, at the start", 8192, 0, 0, 8192},
        {"more arrived than fits", 300000, 0, 0, kBuffer},
        {"first bytes count 50 ms at least", 8192, 8192, 1, 16384},
        {"fast line: the whole buffer", 8192, 10000000, 20, kBuffer},
        {"20 KB/s: two KB per slice, less than has arrived", 8192, 200000, 10000, 8192},
        {"200 KB/s: 20 KB per slice", 8192, 2000000, 10000, 20000},
        {"rate over 32 bits of bytes x ms", 8192, 4294967295u, 1000000, kBuffer},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.size, net::NextReadSize(c.available, c.received, c.ms, kBuffer)) << c.what;
    }
}

TEST(TransferMath, StepsAreDueAcrossTheClockWrap) {
    struct Case { uint32_t now, base, step; bool due; };
    const Case cases[] = {
        {1199, 1000, 200, false},
        {1200, 1000, 200, true},
        {5000, 1000, 3000, true},
        {0x00000010u, 0xFFFFFF50u, 200, false},  // 192 ms across the wrap
        {0x00000018u, 0xFFFFFF50u, 200, true},   // 200 ms across the wrap
        {0x00000000u, 0xFFFFFFFFu, 200, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.due, net::StepDue(c.now, c.base, c.step))
            << "now " << c.now << " base " << c.base << " step " << c.step;
    }
}

}  // namespace
