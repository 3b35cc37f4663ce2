#pragma once

#include <string>

#include "conversion/extended.h"

namespace vorlund {

// The quantity text of an export line: the value as a double, written with at
// most 15 significant digits in the general format (exponent form below
// 0.0001 or beyond 15 integer digits), then the first ',' replaced by '.', so
// importing software always sees a decimal point.
std::string FormatQuantity(Extended quantity, char decimalSeparator);

}  // namespace vorlund
