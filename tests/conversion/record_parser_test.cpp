#include "conversion/record_parser.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

long double Quantity(std::string_view text, char separator = '.') {
    return ParseQuantity(text, separator);
}

TEST(ParseQuantity, ReadsTheWorkedValues) {
    EXPECT_EQ(Quantity("12"), 12.0L);
    EXPECT_EQ(Quantity("12.5"), 12.5L);
    EXPECT_EQ(Quantity("12.50"), 12.0L + 50.0L / 100.0L);
    EXPECT_EQ(Quantity("12.05"), 12.0L + 5.0L / 100.0L);
    EXPECT_EQ(Quantity(".5"), 0.5L);
    EXPECT_EQ(Quantity("12. 5"), 12.0L + 5.0L / 100.0L);  // the blank counts as a digit place
    EXPECT_EQ(Quantity("abc"), 0.0L);
    EXPECT_EQ(Quantity(""), 0.0L);
    EXPECT_EQ(Quantity("1e3"), 1000.0L);
    EXPECT_EQ(Quantity("1,5", ','), 1.5L);
    EXPECT_EQ(Quantity("1,5", '.'), 0.0L);
    EXPECT_EQ(Quantity("1;2"), 0.0L);
}

TEST(ParseQuantity, NegativeQuantitiesAreNegativeThroughout) {
    EXPECT_EQ(Quantity("-12.5"), -12.5L);
    EXPECT_EQ(Quantity("-0.5"), -0.5L);
    EXPECT_EQ(Quantity("-.5"), -0.5L);
    EXPECT_EQ(Quantity("-3"), -3.0L);
}

TEST(ParseQuantity, FractionsTheIntegerParserRefuses) {
    EXPECT_EQ(Quantity("12."), 12.0L);
    EXPECT_EQ(Quantity("0.12345678901"), 0.12345678901L);
    EXPECT_EQ(Quantity("3.000000000000000000000000000001"), 3.0L + 1e-30L);
    EXPECT_EQ(Quantity("1.2.3"), 0.0L);
    EXPECT_EQ(Quantity("1.5x"), 0.0L);
    EXPECT_EQ(Quantity("1.5e3"), 0.0L);
    // A fraction the integer parser does accept is taken as it reads it.
    EXPECT_EQ(Quantity("1.$A"), 1.0L + 10.0L / 100.0L);
}

TEST(ParseEntryLine, TrimsAndUpperCasesTheCode) {
    const auto record = ParseEntryLine(" \ta1 ; 3 \x01", '.');
    ASSERT_TRUE(record);
    EXPECT_EQ(record->code, "A1");
    EXPECT_EQ(record->quantity, 3.0L);

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
    EXPECT_EQ(empty->quantity, 5.0L);
    EXPECT_EQ(ParseEntryLine("A;", '.')->quantity, 0.0L);
    EXPECT_EQ(ParseEntryLine("A;x", '.')->quantity, 0.0L);
    EXPECT_EQ(ParseEntryLine("A;1;2", '.')->quantity, 0.0L);
}

}  // namespace
}  // namespace vorlund
