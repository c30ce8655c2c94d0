// The window's formatted texts and the product name from the start parameter.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "ui/ProgressText.h"

namespace {

TEST(ProgressText, CountsLineShowsEntriesSpeedAndSizeInKilobytes) {
    struct Case {
        int nIndex, nCount;
        uint64_t nSpeed, nSize;
        const char* pszExpected;
    } cases[] = {
        // 共3/10个文件 1.50kb/s (2.00k)
        {3, 10, 1536, 2048, "\xB9\xB2" "3/10\xB8\xF6\xCE\xC4\xBC\xFE 1.50kb/s (2.00k)"},
        // the first display before a run: four zeros
        {0, 0, 0, 0, "\xB9\xB2" "0/0\xB8\xF6\xCE\xC4\xBC\xFE 0.00kb/s (0.00k)"},
        // the largest announced size a 32-bit counter holds
        {7, 7, 1023, 4294967295UL,
         "\xB9\xB2" "7/7\xB8\xF6\xCE\xC4\xBC\xFE 1.00kb/s (4194304.00k)"},
        // a 4.4 GB archive on a line past 4 GiB/s: neither count wraps at 32 bits
        {1, 2, 5ULL << 30, 4400000000ULL,
         "\xB9\xB2" "1/2\xB8\xF6\xCE\xC4\xBC\xFE 5242880.00kb/s (4296875.00k)"},
    };
    for (const Case& c : cases) {
        char sz[PROGRESS_TEXT_SIZE];
        FormatCountsLine(sz, sizeof(sz), c.nIndex, c.nCount, c.nSpeed, c.nSize);
        EXPECT_STREQ(c.pszExpected, sz) << "entries " << c.nIndex << "/" << c.nCount;
    }
}

TEST(ProgressText, PercentHasTwoDecimals) {
    struct Case {
        int nProgress;
        const char* pszExpected;
    } cases[] = {{5000, "50.00%"}, {10000, "100.00%"}, {1, "0.01%"}, {0, "0.00%"}, {9999, "99.99%"}};
    for (const Case& c : cases) {
        char sz[PROGRESS_TEXT_SIZE];
        FormatPercent(sz, sizeof(sz), c.nProgress);
        EXPECT_STREQ(c.pszExpected, sz) << "progress " << c.nProgress;
    }
}

TEST(ProgressText, FormattingNeverWritesPastTheBuffer) {
    // A tight buffer inside a larger one: the bytes after it must stay as they were.
    for (size_t nCap : {size_t(1), size_t(5), size_t(12)}) {
        char area[64];
        std::memset(area, 'Z', sizeof(area));
        FormatCountsLine(area, nCap, INT_MIN, INT_MAX, UINT64_MAX, UINT64_MAX);
        EXPECT_EQ('\0', area[std::strlen(area)]) << "cap " << nCap;
        EXPECT_LT(std::strlen(area), nCap) << "cap " << nCap;
        EXPECT_EQ('Z', area[nCap]) << "cap " << nCap;
        std::memset(area, 'Z', sizeof(area));
        FormatPercent(area, nCap, INT_MIN);
        EXPECT_LT(std::strlen(area), nCap) << "percent, cap " << nCap;
        EXPECT_EQ('Z', area[nCap]) << "percent, cap " << nCap;
    }
}

TEST(ProgressText, ProductNameIsTheTextBeforeTheFirstComma) {
    struct Case {
        const char* pszParam;
        const char* pszExpected;
    } cases[] = {
        {"Hollo", "Hollo"}, {"abc,5", "abc"}, {",5", ""}, {"5,3", "5"},
        {"a,b,c", "a"},     {"", ""},         {"x,", "x"},
    };
    for (const Case& c : cases) {
        char sz[PROGRESS_TEXT_SIZE];
        std::memset(sz, 'Z', sizeof(sz));
        EXPECT_TRUE(ParseProductName(c.pszParam, sz, sizeof(sz))) << c.pszParam;
        EXPECT_STREQ(c.pszExpected, sz) << "parameter \"" << c.pszParam << "\"";
    }
}

TEST(ProgressText, ProductNameLongerThanTheBufferIsRefused) {
    char sz[PROGRESS_TEXT_SIZE];
    std::string strFits(PROGRESS_TEXT_SIZE - 1, 'p');
    EXPECT_TRUE(ParseProductName((strFits + ",1").c_str(), sz, sizeof(sz)));
    EXPECT_EQ(strFits, sz);

    std::string strLong(PROGRESS_TEXT_SIZE, 'p');
    for (const std::string& param : {strLong, strLong + ",1"}) {
        std::memset(sz, 'Z', sizeof(sz));
        EXPECT_FALSE(ParseProductName(param.c_str(), sz, sizeof(sz))) << param.size() << " bytes";
        EXPECT_STREQ("", sz) << param.size() << " bytes";
    }
}

}  // namespace
