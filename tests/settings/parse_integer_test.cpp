#include "settings/parse_integer.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

TEST(ParseInteger, AcceptsDecimalWithSignAndLeadingSpaces) {
    EXPECT_EQ(ParseInteger("0"), 0);
    EXPECT_EQ(ParseInteger("007"), 7);
    EXPECT_EQ(ParseInteger("  3"), 3);
    EXPECT_EQ(ParseInteger("+42"), 42);
    EXPECT_EQ(ParseInteger("-1"), -1);
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInteger("00000000000000000000012"), 12);
}

TEST(ParseInteger, AcceptsEveryHexadecimalPrefix) {
    EXPECT_EQ(ParseInteger("$3"), 3);
    EXPECT_EQ(ParseInteger("x3"), 3);
    EXPECT_EQ(ParseInteger("X1f"), 31);
    EXPECT_EQ(ParseInteger("0x3"), 3);
    EXPECT_EQ(ParseInteger("0XaB"), 171);
    EXPECT_EQ(ParseInteger(" $7FFFFFFF"), INT32_MAX);
    EXPECT_EQ(ParseInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(ParseInteger("$80000000"), INT32_MIN);
    EXPECT_EQ(ParseInteger("$000000001"), 1);
}

TEST(ParseInteger, RefusesAnythingElse) {
    for (const char* text :
         {"",     "   ", "-",    "+",          "$",           "0x",          "x",          "3 ",
          "\t3",  "3.0", "1e3",  "2147483648", "-2147483649", "99999999999", "$100000000", "-$1",
          "+0x1", "$G",  "0x-1", "3-",         "1,5",         "- 1",         "0b1"}) {
        EXPECT_FALSE(ParseInteger(text).has_value()) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace vorlund
