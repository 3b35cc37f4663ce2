#pragma once

#include <limits>
#include <string>

namespace vorlund {

// Quantities are summed in 80-bit extended precision on every build we ship.
static_assert(std::numeric_limits<long double>::digits == 64,
              "quantities need the 80-bit extended format");

// One article record: one line of X.DAT.
struct entrytype {
    std::string code;  // trimmed and upper-cased, code page 1252
    long double quantity = 0;
};

}  // namespace vorlund
