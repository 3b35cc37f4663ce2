#pragma once

#include <optional>
#include <string_view>

namespace vorlund {

// Decimal text to extended precision, independent of the C library's locale:
// spaces, an optional sign, digits, optionally the regional decimal separator
// and digits, optionally 'E' or 'e' with an optional sign and digits (none
// counts as 0), spaces, end. Fails on anything else and on overflow.
std::optional<long double> ParseFloat(std::string_view text, char decimalSeparator);

// 10 to the power `exponent`, as exactly as the extended format allows.
long double PowerOfTen(int exponent);

}  // namespace vorlund
