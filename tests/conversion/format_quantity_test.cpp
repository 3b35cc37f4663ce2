#include "conversion/format_quantity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vorlund {
namespace {

TEST(FormatQuantity, WritesTheGeneralFormatWithADecimalPoint) {
    for (char separator : {',', '.'}) {
        EXPECT_EQ(FormatQuantity(12, separator), "12");
        EXPECT_EQ(FormatQuantity(Extended(12.5), separator), "12.5");
        EXPECT_EQ(FormatQuantity(Extended(2.5), separator), "2.5");
        EXPECT_EQ(FormatQuantity(Extended(1) / 10 + Extended(2) / 10, separator), "0.3");
        EXPECT_EQ(FormatQuantity(Extended(1) / 10000, separator), "0.0001");
        EXPECT_EQ(FormatQuantity(Extended(1) / 100000, separator), "1E-5");
        EXPECT_EQ(FormatQuantity(Extended(1e15), separator), "1E15");
        EXPECT_EQ(FormatQuantity(Extended(2.5e15), separator), "2.5E15");
        EXPECT_EQ(FormatQuantity(-3, separator), "-3");
        EXPECT_EQ(FormatQuantity(Extended(-0.0), separator), "0");
        EXPECT_EQ(FormatQuantity(0, separator), "0");
    }
}

TEST(FormatQuantity, KeepsFifteenSignificantDigits) {
    EXPECT_EQ(FormatQuantity(999999999999999, '.'), "999999999999999");
    EXPECT_EQ(FormatQuantity(123456789012345678, '.'), "1.23456789012346E17");
    EXPECT_EQ(FormatQuantity(Extended(1) / 3, '.'), "0.333333333333333");
    EXPECT_EQ(FormatQuantity(Extended(2) / 3, '.'), "0.666666666666667");
    EXPECT_EQ(FormatQuantity(Extended(99999999999999999) / 100000000000000000, '.'), "1");
    EXPECT_EQ(FormatQuantity(9999999999999999, '.'), "1E16");
    EXPECT_EQ(FormatQuantity(Extended(-15) / 100000000, '.'), "-1.5E-7");
    EXPECT_EQ(FormatQuantity(100, '.'), "100");
    EXPECT_EQ(FormatQuantity(Extended(12345678) / 10000, '.'), "1234.5678");
    EXPECT_EQ(FormatQuantity(Extended(12345) / 100000000, '.'), "0.00012345");
}

TEST(FormatQuantity, HandlesTheEndsOfTheDoubleRange) {
    EXPECT_EQ(FormatQuantity(Extended(std::numeric_limits<double>::max()), '.'),
              "1.79769313486232E308");
    EXPECT_EQ(FormatQuantity(Extended(std::numeric_limits<double>::denorm_min()), '.'),
              "4.94065645841247E-324");
    const Extended huge = Extended(1e200) * Extended(1e200),
                   tiny = Extended(1e-200) * Extended(1e-200);
    EXPECT_EQ(FormatQuantity(huge, '.'), "INF");  // beyond the double range
    EXPECT_EQ(FormatQuantity(-huge, '.'), "-INF");
    EXPECT_EQ(FormatQuantity(tiny, '.'), "0");
}

TEST(FormatQuantity, OnlyACommaBecomesAPoint) {
    EXPECT_EQ(FormatQuantity(Extended(1.5), '\''), "1'5");  // another regional mark stays
}

}  // namespace
}  // namespace vorlund
