#include "conversion/record_parser.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

Extended Quantity(std::string_view text, char separator = '.') {
    return ParseQuantity(text, separator);
}

TEST(ParseQuantity, ReadsTheWorkedValues) {
    EXPECT_EQ(Quantity("12"), Extended(12));
    EXPECT_EQ(Quantity("12.5"), Extended(12.5));
    EXPECT_EQ(Quantity("12.50"), Extended(12) + Extended(50) / 100);
    EXPECT_EQ(Quantity("12.05"), Extended(12) + Extended(5) / 100);
    EXPECT_EQ(Quantity(".5"), Extended(0.5));
    EXPECT_EQ(Quantity("12. 5"),
              Extended(12) + Extended(5) / 100);  // the blank counts as a digit place
    EXPECT_EQ(Quantity("abc"), Extended(0));
    EXPECT_EQ(Quantity(""), Extended(0));
    EXPECT_EQ(Quantity("1e3"), Extended(1000));
    EXPECT_EQ(Quantity("1,5", ','), Extended(1.5));
    EXPECT_EQ(Quantity("1,5", '.'), Extended(0));
    EXPECT_EQ(Quantity("1;2"), Extended(0));
}

TEST(ParseQuantity, NegativeQuantitiesAreNegativeThroughout) {
    EXPECT_EQ(Quantity("-12.5"), Extended(-12.5));
    EXPECT_EQ(Quantity("-0.5"), Extended(-0.5));
    EXPECT_EQ(Quantity("-.5"), Extended(-0.5));
    EXPECT_EQ(Quantity("-3"), Extended(-3));
}

TEST(ParseQuantity, FractionsTheIntegerParserRefuses) {
    EXPECT_EQ(Quantity("12."), Extended(12));
    EXPECT_EQ(Quantity("0.12345678901"), Extended(12345678901) / 100000000000);
    EXPECT_EQ(Quantity("3.000000000000000000000000000001"),
              Extended(3));  // 10^-30 is below the last place
    EXPECT_EQ(Quantity("1.2.3"), Extended(0));
    EXPECT_EQ(Quantity("1.5x"), Extended(0));
    EXPECT_EQ(Quantity("1.5e3"), Extended(0));
    // A fraction the integer parser does accept is taken as it reads it.
    EXPECT_EQ(Quantity("1.$A"), Extended(1) + Extended(10) / 100);
}

TEST(ParseEntryLine, TrimsAndUpperCasesTheCode) {
    const auto record = ParseEntryLine(" \ta1 ; 3 \x01", '.');
    ASSERT_TRUE(record);
    EXPECT_EQ(record->code, "A1");
    EXPECT_EQ(record->quantity, Extended(3));

    const auto swedish = ParseEntryLine("\xE5\xE4\xF6;1", '.');
    ASSERT_TRUE(swedish);
    EXPECT_EQ(swedish->code, "\xC5\xC4\xD6");
}

TEST(ParseEntryLine, OnlyTheFirstSemicolonDivides) {
    EXPECT_FALSE(ParseEntryLine("no separator", '.'));
    EXPECT_FALSE(ParseEntryLine("", '.'));
    const auto empty = ParseEntryLine(";5", '.');
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->code, "");
    EXPECT_EQ(empty->quantity, Extended(5));
    EXPECT_EQ(ParseEntryLine("A;", '.')->quantity, Extended(0));
    EXPECT_EQ(ParseEntryLine("A;x", '.')->quantity, Extended(0));
    EXPECT_EQ(ParseEntryLine("A;1;2", '.')->quantity, Extended(0));
}

}  // namespace
}  // namespace vorlund
