#pragma once

#include <limits>
#include <type_traits>

#include "conversion/hardware_extended.h"
#include "conversion/soft_extended.h"

namespace vorlund {

// Whether long double is the x87's 80-bit format (x86, 32 and 64 bits, with
// GCC and MinGW alike): 64-bit significand, 15-bit exponent, subnormals.
inline constexpr bool kLongDoubleIsX87 =
    std::numeric_limits<long double>::radix == 2 &&
    std::numeric_limits<long double>::digits == 64 &&
    std::numeric_limits<long double>::max_exponent == 16384 &&
    std::numeric_limits<long double>::min_exponent == -16381 &&
    std::numeric_limits<long double>::has_denorm == std::denorm_present;

// The number type of quantities and their sums: 80-bit extended precision,
// with the same results on every machine. The hardware's where it has the
// format, the software one elsewhere.
using Extended = std::conditional_t<kLongDoubleIsX87, HardwareExtended<long double>, SoftExtended>;

}  // namespace vorlund
