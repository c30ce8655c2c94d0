// "update.ini" written as real files and read back in text mode, the way the
// program opens it, so the C runtime's CR LF translation takes part.
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "update/UpdateConfig.h"

namespace {

struct ExpectedRow {
    int nId;
    int nLineKey;
    std::string strName;
    std::string strHost;
    int nPort;
};

struct ReadCase {
    const char* pszLabel;
    std::string strFile;
    std::vector<ExpectedRow> rows;
};

std::vector<UpdateServerRow> ReadFromFile(const std::string& strBytes)
{
    const char* pszPath = "update.ini";
    std::FILE* pOut = std::fopen(pszPath, "wb");
    EXPECT_NE(pOut, nullptr);
    std::vector<UpdateServerRow> rows;
    if (!pOut)
        return rows;
    std::fwrite(strBytes.data(), 1, strBytes.size(), pOut);
    std::fclose(pOut);
    std::FILE* pIn = std::fopen(pszPath, "rt");
    EXPECT_NE(pIn, nullptr);
    ReadUpdateServers(pIn, rows);
    if (pIn)
        std::fclose(pIn);
    return rows;
}

void ExpectRows(const char* pszLabel, const std::vector<UpdateServerRow>& got,
                const std::vector<ExpectedRow>& want)
{
    ASSERT_EQ(got.size(), want.size()) << pszLabel;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].nId, want[i].nId) << pszLabel << ", row " << i;
        EXPECT_EQ(got[i].nLineKey, want[i].nLineKey) << pszLabel << ", row " << i;
        EXPECT_EQ(got[i].szName, want[i].strName) << pszLabel << ", row " << i;
        EXPECT_EQ(got[i].szHost, want[i].strHost) << pszLabel << ", row " << i;
        EXPECT_EQ(got[i].nPort, want[i].nPort) << pszLabel << ", row " << i;
    }
}

TEST(UpdateConfig, ReadsRowsAsTheLineAndRowFormatsDo)
{
    const ReadCase cases[] = {
        {"two rows, CR LF", "1;1;east;alpha;81\r\n2;1;west;beta;80\r\n",
         {{1, 1, "east", "alpha", 81}, {2, 1, "west", "beta", 80}}},
        {"empty file", "", {}},
        {"first line empty", "\n1;1;a;b;80\n", {}},
        {"first line empty, CR LF", "\r\n1;1;a;b;80\r\n", {}},
        {"blank lines and indents",
         "1;1;a;h1;80\n\n\n  \t2;1;b;h2;81\r\n\r\n \t \r\n\t3;1;c;h3;82\n",
         {{1, 1, "a", "h1", 80}, {2, 1, "b", "h2", 81}, {3, 1, "c", "h3", 82}}},
        {"first line indented", "  1;1;a;b;80\n", {{1, 1, "a", "b", 80}}},
        {"line of blanks first", "   \n1;1;a;b;80\n", {{1, 1, "a", "b", 80}}},
        {"comments", "# servers\r\n1;1;a;b;80\r\n#2;1;c;d;81\r\n  # 3;1;e;f;82\r\n",
         {{1, 1, "a", "b", 80}}},
        {"id 0 dropped, negative id admitted", "0;1;a;b;80\n-3;1;a;b;80\n",
         {{-3, 1, "a", "b", 80}}},
        {"no line feed at the end", "1;1;a;b;80\n2;1;c;d;81", {{1, 1, "a", "b", 80}, {2, 1, "c", "d", 81}}},
        {"port above 16 bits kept", "1;1;a;b;70000\n", {{1, 1, "a", "b", 70000}}},
        {"empty name stops parsing", "5;1;;host;80\n", {{5, 1, "", "", 0}}},
        {"empty host stops parsing", "5;1;name;;80\n", {{5, 1, "name", "", 0}}},
        {"name up to the end", "5;2;name\n", {{5, 2, "name", "", 0}}},
        {"blank before separator", "1 ;1;a;b;80\n", {{1, 0, "", "", 0}}},
        {"blanks before numbers, in texts", "1;\t2; my name ;b;  80\n", {{1, 2, " my name ", "b", 80}}},
        {"signs and a bad port", "+4;-1;a;b;x80\n", {{4, -1, "a", "b", 0}}},
        {"rest after the port ignored", "1;1;a;b;80;90\n", {{1, 1, "a", "b", 80}}},
        {"not a row", "hello\n[servers]\n1;1;a;b;80\n", {{1, 1, "a", "b", 80}}},
        {"numbers held at the 32-bit range", "99999999999;-99999999999;a;b;4294967376\n",
         {{INT_MAX, INT_MIN, "a", "b", INT_MAX}}},
        {"byte-order mark", "\xEF\xBB\xBF" "1;1;a;b;80\r\n2;1;c;d;81\r\n",
         {{1, 1, "a", "b", 80}, {2, 1, "c", "d", 81}}},
        {"byte-order mark, then an empty line", "\xEF\xBB\xBF\r\n1;1;a;b;80\r\n", {}},
    };
    for (const ReadCase& c : cases)
        ExpectRows(c.pszLabel, ReadFromFile(c.strFile), c.rows);
}

TEST(UpdateConfig, SixthFieldGivesTheParallelTransfersWithinOneToSixteen)
{
    const struct { const char* pszLine; int nConnections; } cases[] = {
        {"1;1;a;b;80\n", DEFAULT_CONNECTIONS}, {"1;1;a;b;80;1\n", 1},  {"1;1;a;b;80;16\n", 16},
        {"1;1;a;b;80;0\n", DEFAULT_CONNECTIONS}, {"1;1;a;b;80;99\n", DEFAULT_CONNECTIONS},
        {"1;1;a;b;80;-3\n", DEFAULT_CONNECTIONS}, {"1;1;a;b;80;x\n", DEFAULT_CONNECTIONS},
    };
    for (const auto& c : cases) {
        std::vector<UpdateServerRow> rows = ReadFromFile(c.pszLine);
        ASSERT_EQ(rows.size(), 1u) << c.pszLine;
        EXPECT_EQ(rows[0].nPort, 80) << c.pszLine;
        EXPECT_EQ(ConnectionsOf(rows[0]), c.nConnections) << c.pszLine;
    }
}

TEST(UpdateConfig, PortIsCutToSixteenBitsWhenUsed)
{
    std::vector<UpdateServerRow> rows = ReadFromFile("1;1;a;b;70000\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(static_cast<unsigned short>(rows[0].nPort), 4464);
}

TEST(UpdateConfig, OverlongFieldsAndLinesStayBounded)
{
    const std::string strLongName(300, 'n');
    const std::string strHost63(63, 'h');
    const std::string strHost64(64, 'h');
    // The tail past 1299 characters looks like a row: it must not become one.
    std::string strLongLine = "1;1;a;b;80#";
    strLongLine.resize(1299, 'x');
    strLongLine += "9;1;tail;t;99";
    const ReadCase cases[] = {
        {"name cut to 259 bytes", "1;1;" + strLongName + ";b;80\n",
         {{1, 1, std::string(259, 'n'), "b", 80}}},
        {"host of 63 bytes kept", "1;1;a;" + strHost63 + ";80\n", {{1, 1, "a", strHost63, 80}}},
        {"host of 64 bytes refuses the row", "1;1;a;" + strHost64 + ";80\n2;1;c;d;81\n",
         {{2, 1, "c", "d", 81}}},
        {"line cut, its rest discarded", strLongLine + "\n2;1;c;d;81\n",
         {{1, 1, "a", "b", 80}, {2, 1, "c", "d", 81}}},
        {"long first line after a byte-order mark", "\xEF\xBB\xBF" + strLongLine + "\n2;1;c;d;81",
         {{1, 1, "a", "b", 80}, {2, 1, "c", "d", 81}}},
        {"very long line", "1;1;a;b;80;" + std::string(100000, 'z') + "\n2;1;c;d;81\n",
         {{1, 1, "a", "b", 80}, {2, 1, "c", "d", 81}}},
    };
    for (const ReadCase& c : cases)
        ExpectRows(c.pszLabel, ReadFromFile(c.strFile), c.rows);
}

TEST(UpdateConfig, NoFileLeavesTheListAlone)
{
    std::vector<UpdateServerRow> rows(1);
    ReadUpdateServers(nullptr, rows);
    EXPECT_EQ(rows.size(), 1u);
}

}  // namespace

// "limit=N" exactly, or nothing: a row reader of five fields drops the line.
TEST(UpdateConfig, OnlyALineExactlyLimitEqualsNSetsTheCap)
{
    struct Case {
        const char* pszLine;
        long nLimit;
    } cases[] = {
        {"limit=2048", 2048}, {"limit=0", 0},      {"limit=", -1},         {"limit=2048x", -1},
        {" limit=5", -1},     {"Limit=5", -1},     {"limit=-1", -1},       {"limit=4194303", 4194303},
        {"limit=4194304", -1}, {"limit=99999999999", -1}, {"1;1;a;b;80", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseLimitLine(c.pszLine), c.nLimit) << c.pszLine;
    std::FILE* pOut = std::fopen("update.ini", "wb");
    ASSERT_NE(pOut, nullptr);
    std::fputs("1;1;a;b;80\nlimit=512\n2;1;c;d;81\n", pOut);
    std::fclose(pOut);
    std::FILE* pIn = std::fopen("update.ini", "rt");
    ASSERT_NE(pIn, nullptr);
    std::vector<UpdateServerRow> rows;
    unsigned nLimit = 7;
    ReadUpdateServers(pIn, rows, &nLimit);
    std::fclose(pIn);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(nLimit, 512u);
}
