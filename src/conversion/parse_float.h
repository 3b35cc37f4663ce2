#pragma once

#include <optional>
#include <string_view>

#include "conversion/extended.h"

namespace vorlund {

// Decimal text to extended precision, independent of the C library's locale:
// spaces, an optional sign, digits, optionally the regional decimal separator
// and digits, optionally 'E' or 'e' with an optional sign and digits (none
// counts as 0), spaces, end. Fails on anything else and on overflow.
std::optional<Extended> ParseFloat(std::string_view text, char decimalSeparator);

// 10 to the power `exponent`, as exactly as the extended format allows.
Extended PowerOfTen(int exponent);

}  // namespace vorlund
