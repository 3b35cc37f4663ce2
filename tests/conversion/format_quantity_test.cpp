#include "conversion/format_quantity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vorlund {
namespace {

TEST(FormatQuantity, WritesTheGeneralFormatWithADecimalPoint) {
    for (char separator : {',', '.'}) {
        EXPECT_EQ(FormatQuantity(12, separator), "12");
        EXPECT_EQ(FormatQuantity(12.5L, separator), "12.5");
        EXPECT_EQ(FormatQuantity(2.5L, separator), "2.5");
        EXPECT_EQ(FormatQuantity(0.1L + 0.2L, separator), "0.3");
        EXPECT_EQ(FormatQuantity(0.0001L, separator), "0.0001");
        EXPECT_EQ(FormatQuantity(0.00001L, separator), "1E-5");
        EXPECT_EQ(FormatQuantity(1e15L, separator), "1E15");
        EXPECT_EQ(FormatQuantity(2.5e15L, separator), "2.5E15");
        EXPECT_EQ(FormatQuantity(-3, separator), "-3");
        EXPECT_EQ(FormatQuantity(-0.0L, separator), "0");
        EXPECT_EQ(FormatQuantity(0, separator), "0");
    }
}

TEST(FormatQuantity, KeepsFifteenSignificantDigits) {
    EXPECT_EQ(FormatQuantity(999999999999999.0L, '.'), "999999999999999");
    EXPECT_EQ(FormatQuantity(123456789012345678.0L, '.'), "1.23456789012346E17");
    EXPECT_EQ(FormatQuantity(1.0L / 3, '.'), "0.333333333333333");
    EXPECT_EQ(FormatQuantity(2.0L / 3, '.'), "0.666666666666667");
    EXPECT_EQ(FormatQuantity(0.99999999999999999L, '.'), "1");
    EXPECT_EQ(FormatQuantity(9999999999999999.0L, '.'), "1E16");
    EXPECT_EQ(FormatQuantity(-1.5e-7L, '.'), "-1.5E-7");
    EXPECT_EQ(FormatQuantity(100, '.'), "100");
    EXPECT_EQ(FormatQuantity(1234.5678L, '.'), "1234.5678");
    EXPECT_EQ(FormatQuantity(0.00012345L, '.'), "0.00012345");
}

TEST(FormatQuantity, HandlesTheEndsOfTheDoubleRange) {
    EXPECT_EQ(FormatQuantity(std::numeric_limits<double>::max(), '.'), "1.79769313486232E308");
    EXPECT_EQ(FormatQuantity(std::numeric_limits<double>::denorm_min(), '.'),
              "4.94065645841247E-324");
    EXPECT_EQ(FormatQuantity(1e400L, '.'), "INF");  // beyond the double range
    EXPECT_EQ(FormatQuantity(-1e400L, '.'), "-INF");
    EXPECT_EQ(FormatQuantity(1e-400L, '.'), "0");
}

TEST(FormatQuantity, OnlyACommaBecomesAPoint) {
    EXPECT_EQ(FormatQuantity(1.5L, '\''), "1'5");  // another regional mark stays
}

}  // namespace
}  // namespace vorlund
