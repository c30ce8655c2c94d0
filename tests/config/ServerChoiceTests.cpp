// The random walk that picks one server row for a line key.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "update/UpdateConfig.h"

namespace {

std::vector<UpdateServerRow> RowsWithKeys(const std::vector<int>& keys)
{
    std::vector<UpdateServerRow> rows;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        UpdateServerRow row{};
        row.nId = static_cast<int>(i) + 1;
        row.nLineKey = keys[i];
        rows.push_back(row);
    }
    return rows;
}

TEST(ServerChoice, TwoRowsOfKeyOne)
{
    std::vector<UpdateServerRow> rows = RowsWithKeys({1, 1});
    // n = 2: t = (r + 2) mod 4, and the choice is match (t + 1) mod 2.
    EXPECT_EQ(ChooseServerRow(rows, 1, 0), 1);
    EXPECT_EQ(ChooseServerRow(rows, 1, 1), 0);
    EXPECT_EQ(ChooseServerRow(rows, 1, 32767), 0);
    EXPECT_EQ(ChooseServerRow(rows, 2, 0), -1);
}

TEST(ServerChoice, ThreeRowWalk)
{
    std::vector<UpdateServerRow> rows = RowsWithKeys({1, 2, 1});
    // t = (r + 3) mod 6.
    EXPECT_EQ(ChooseServerRow(rows, 1, 3), 2) << "t = 0";
    EXPECT_EQ(ChooseServerRow(rows, 1, 4), 0) << "t = 1";
    EXPECT_EQ(ChooseServerRow(rows, 2, 3), 1) << "key 2, t = 0";
}

TEST(ServerChoice, WalkGivesUpAfter1001Visits)
{
    std::vector<int> keys(40, 0);
    keys.back() = 1;
    std::vector<UpdateServerRow> rows = RowsWithKeys(keys);
    for (int t = 0; t < 80; ++t) {
        int r = (t + 40) % 80;  // t = (r + 40) mod 80
        EXPECT_EQ(ChooseServerRow(rows, 1, r), t < 24 ? 39 : -1) << "t = " << t;
    }
}

TEST(ServerChoice, NoRowsOrNoMatch)
{
    EXPECT_EQ(ChooseServerRow({}, 1, 0), -1);
    EXPECT_EQ(ChooseServerRow(RowsWithKeys({2, 3}), 1, 5), -1);
}

}  // namespace
