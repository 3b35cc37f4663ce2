#pragma once

namespace vorlund {

// 10 to the power `exponent` in the extended type `Number`, as exactly as the
// format allows. A template so that the software and the hardware type can be
// checked against each other on the very same steps.
template <class Number>
Number PowerOfTenIn(int exponent) {
    // 10^0 to 10^27 are exact in the 64-bit significand.
    constexpr int kExactPowers = 28;
    static const auto kPowers = [] {
        struct Table {
            Number value[kExactPowers];
        } table{};
        Number p = 1;
        for (int i = 0; i < kExactPowers; ++i) {
            table.value[i] = p;
            p *= 10;
        }
        return table;
    }();
    const bool negative = exponent < 0;
    // Square-and-multiply keeps the rounding error to a few units in the last
    // place even for exponents far beyond the exact table.
    unsigned remaining =
        negative ? 0u - static_cast<unsigned>(exponent) : static_cast<unsigned>(exponent);
    Number result = 1;
    Number factor = 10;
    if (remaining < kExactPowers) {
        result = kPowers.value[remaining];
    } else {
        while (remaining != 0) {
            if (remaining & 1u) {
                result *= factor;
            }
            factor *= factor;
            remaining >>= 1;
        }
    }
    return negative ? 1 / result : result;
}

}  // namespace vorlund
