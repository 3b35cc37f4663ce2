#include "conversion/parse_float.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vorlund {
namespace {

TEST(ParseFloat, ReadsDigitsFractionAndExponent) {
    EXPECT_EQ(ParseFloat("12", '.'), Extended(12));
    EXPECT_EQ(ParseFloat("  -7  ", '.'), Extended(-7));
    EXPECT_EQ(ParseFloat("+1,5", ','), Extended(1.5));
    EXPECT_EQ(ParseFloat(",5", ','), Extended(0.5));
    EXPECT_EQ(ParseFloat("5,", ','), Extended(5));
    EXPECT_EQ(ParseFloat(",", ','), Extended(0));
    EXPECT_EQ(ParseFloat("1e3", '.'), Extended(1000));
    EXPECT_EQ(ParseFloat("1E+3", '.'), Extended(1000));
    EXPECT_EQ(ParseFloat("25e-1", '.'), Extended(2.5));
    EXPECT_EQ(ParseFloat("7e", '.'), Extended(7));  // no exponent digits: exponent 0
    EXPECT_EQ(ParseFloat("0000000000000000000000000000042", '.'), Extended(42));
}

TEST(ParseFloat, IsExactWhereTheExtendedFormatIs) {
    EXPECT_EQ(ParseFloat("9223372036854775807", '.'), Extended(9223372036854775807));
    EXPECT_EQ(ParseFloat("0.1", '.'), Extended(1) / 10);  // one rounding: the nearest value
    // The nearest extended value, 0xD124D8F8850364B5 x 2^(76 - 63).
    EXPECT_EQ(ParseFloat("123456789012345678901234", '.'),
              Extended::FromBits({0x404B, 0xD124D8F8850364B5}));
}

TEST(ParseFloat, LargeExponentsStayWithinAFewUnitsInTheLastPlace) {
    // The nearest extended values to the decimal numbers.
    for (const auto& [text, expected] :
         {std::pair{"1e4000", ExtendedBits{0x73E6, 0xD1BA8323FE558C61}},
          {"3.5e-4000", {0x0C19, 0x88B5C51585510508}},
          {"1e4932", {0x7FFE, 0xD72CB2A95C7EF6CD}},
          {"1e-4940", {0x0000, 0x0000000663278E62}}}) {
        const auto value = ParseFloat(text, '.');
        ASSERT_TRUE(value) << text;
        const Extended error = *value / Extended::FromBits(expected) - 1;
        EXPECT_LE(std::fabs(static_cast<double>(error)), 1e-17) << text;
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
