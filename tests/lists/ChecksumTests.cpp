// The list's checksum: crc32 started from 0xFFFFFFFF, over real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "lists/ListTestFiles.h"
#include "update/Checksum.h"

using namespace listtest;

TEST(Checksum, KnownValuesOfFiles) {
    struct Case { const char* name; std::string bytes; uint32_t crc; };
    const Case cases[] = {
        {"digits", "123456789", 0xD202D277u},
        {"abc", "abc", 0x359A672Fu},
        {"empty", "", 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes("crc_case.bin", c.bytes)) << c.name;
        EXPECT_EQ(c.crc, FileChecksum("crc_case.bin", -1)) << c.name;
        EXPECT_EQ(c.crc, ChecksumUpdate(ChecksumStart(), c.bytes.data(), c.bytes.size())) << c.name;
    }
    remove("crc_case.bin");
}

TEST(Checksum, UnopenableGivesSentinel) {
    EXPECT_EQ(CHECKSUM_UNREADABLE, FileChecksum("no_such_file.bin", -1));
    CreateDirectoryA("crc_folder.dir", nullptr);
    EXPECT_EQ(CHECKSUM_UNREADABLE, FileChecksum("crc_folder.dir", -1));
    RemoveDirectoryA("crc_folder.dir");
}

TEST(Checksum, FileOfSeveralPiecesEqualsOneShot) {
    // Spans several 256 KiB reads and ends in a partial one.
    std::string bytes(3 * 256 * 1024 + 12345, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131u + i / 7u) & 0xFF);
    ASSERT_TRUE(WriteBytes("crc_big.bin", bytes));
    uint32_t nOneShot = ChecksumUpdate(ChecksumStart(), bytes.data(), bytes.size());
    EXPECT_EQ(nOneShot, FileChecksum("crc_big.bin", -1));
    EXPECT_EQ(nOneShot, FileChecksum("crc_big.bin", static_cast<long long>(bytes.size())));

    uint32_t nChained = ChecksumStart();
    for (size_t at = 0; at < bytes.size(); at += 1000)
        nChained = ChecksumUpdate(nChained, bytes.data() + at, std::min<size_t>(1000, bytes.size() - at));
    EXPECT_EQ(nOneShot, nChained);

    EXPECT_EQ(ChecksumUpdate(ChecksumStart(), bytes.data(), 300000), FileChecksum("crc_big.bin", 300000));
    EXPECT_EQ(0xFFFFFFFFu, FileChecksum("crc_big.bin", 0));
    // Asking for more than the file holds is a failed read, not a value.
    EXPECT_EQ(CHECKSUM_UNREADABLE, FileChecksum("crc_big.bin", static_cast<long long>(bytes.size()) + 1));
    remove("crc_big.bin");
}
