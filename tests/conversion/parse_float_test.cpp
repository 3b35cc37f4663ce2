#include "conversion/parse_float.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vorlund {
namespace {

TEST(ParseFloat, ReadsDigitsFractionAndExponent) {
    EXPECT_EQ(ParseFloat("12", '.'), 12.0L);
    EXPECT_EQ(ParseFloat("  -7  ", '.'), -7.0L);
    EXPECT_EQ(ParseFloat("+1,5", ','), 1.5L);
    EXPECT_EQ(ParseFloat(",5", ','), 0.5L);
    EXPECT_EQ(ParseFloat("5,", ','), 5.0L);
    EXPECT_EQ(ParseFloat(",", ','), 0.0L);
    EXPECT_EQ(ParseFloat("1e3", '.'), 1000.0L);
    EXPECT_EQ(ParseFloat("1E+3", '.'), 1000.0L);
    EXPECT_EQ(ParseFloat("25e-1", '.'), 2.5L);
    EXPECT_EQ(ParseFloat("7e", '.'), 7.0L);  // no exponent digits: exponent 0
    EXPECT_EQ(ParseFloat("0000000000000000000000000000042", '.'), 42.0L);
}

TEST(ParseFloat, IsExactWhereTheExtendedFormatIs) {
    EXPECT_EQ(ParseFloat("9223372036854775807", '.'), 9223372036854775807.0L);
    EXPECT_EQ(ParseFloat("0.1", '.'), 0.1L);
    EXPECT_EQ(ParseFloat("123456789012345678901234", '.'), 123456789012345678901234.0L);
}

TEST(ParseFloat, LargeExponentsStayWithinAFewUnitsInTheLastPlace) {
    for (const auto& [text, expected] : {std::pair{"1e4000", 1e4000L},
                                         {"3.5e-4000", 3.5e-4000L},
                                         {"1e4932", 1e4932L},
                                         {"1e-4940", 1e-4940L}}) {
        const auto value = ParseFloat(text, '.');
        ASSERT_TRUE(value) << text;
        EXPECT_LE(std::fabs(*value / expected - 1), 1e-17L) << text;
    }
}

TEST(ParseFloat, RefusesMalformedTextAndOverflow) {
    for (const char* text : {"", "   ", "-", "+", "e5", "1.5", "1,5,", "1x", "1e5x", "1 2", "\t1",
                             "--1", "1e99999", "1e5000"}) {
        EXPECT_FALSE(ParseFloat(text, ',').has_value()) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace vorlund
