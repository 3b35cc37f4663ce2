#include "conversion/article_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace vorlund {
namespace {

using Row = std::pair<std::string, Extended>;

std::vector<Row> Walk(const ArticleTable& table) {
    std::vector<Row> rows;
    table.ForEachEntry([&](std::string_view code, Extended q) {
        rows.emplace_back(std::string(code), q);
        return true;
    });
    return rows;
}

ArticleTable Filled(bool aggregation, std::initializer_list<Row> rows) {
    ArticleTable table(aggregation);
    for (const auto& [code, q] : rows)
        table.AddEntry({code, q});
    return table;
}

TEST(ArticleTable, SumsPerCodeOrListsInArrivalOrder) {
    EXPECT_EQ(Walk(Filled(true, {{"A", 1}, {"B", 2}, {"A", 3}})),
              (std::vector<Row>{{"A", 4}, {"B", 2}}));
    EXPECT_EQ(Walk(Filled(false, {{"A", 1}, {"B", 2}, {"A", 3}})),
              (std::vector<Row>{{"A", 1}, {"B", 2}, {"A", 3}}));
    EXPECT_TRUE(Walk(ArticleTable(true)).empty());
    EXPECT_TRUE(Walk(ArticleTable(false)).empty());
}

TEST(ArticleTable, CodeOrderIsUnsignedByteOrder) {
    const auto rows = Walk(Filled(true, {{"B", 1},
                                         {"A", 1},
                                         {"AB", 1},
                                         {"10", 1},
                                         {"9", 1},
                                         {"", 1},
                                         {"\xD6", 1},
                                         {"\xC5", 1},
                                         {"\xC4", 1},
                                         {"", 2}}));
    std::vector<std::string> codes;
    for (const auto& row : rows)
        codes.push_back(row.first);
    EXPECT_EQ(codes,
              (std::vector<std::string>{"", "10", "9", "A", "AB", "B", "\xC4", "\xC5", "\xD6"}));
    EXPECT_EQ(rows.front().second, Extended(3));
}

TEST(ArticleTable, SumsInExtendedPrecision) {
    const Extended tenth = Extended(1) / 10, fifth = Extended(2) / 10;
    const auto rows = Walk(Filled(true, {{"A", tenth}, {"A", fifth}}));
    EXPECT_EQ(rows[0].second, tenth + fifth);
}

TEST(ArticleTable, VisitorCanEndTheWalk) {
    const ArticleTable table = Filled(false, {{"A", 1}, {"B", 2}, {"C", 3}});
    int visits = 0;
    EXPECT_FALSE(table.ForEachEntry([&](std::string_view, Extended) { return ++visits < 2; }));
    EXPECT_EQ(visits, 2);
}

}  // namespace
}  // namespace vorlund
