#include "conversion/parse_float.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace vorlund {
namespace {

// 10^0 to 10^27 are exact in the 64-bit significand.
constexpr int kExactPowers = 28;

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

long double PowerOfTen(int exponent) {
    static const auto kPowers = [] {
        struct Table {
            long double value[kExactPowers];
        } table{};
        long double p = 1;
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
    long double result = 1;
    long double factor = 10;
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

std::optional<long double> ParseFloat(std::string_view text, char decimalSeparator) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;

    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    // Up to 19 significant digits are kept exactly; further digits only
    // scale the value (and are too small to change the extended result).
    std::uint64_t significand = 0;
    int significantDigits = 0;
    long long scale = 0;
    bool mantissaSeen = false;
    auto takeDigit = [&](char c, bool fraction) {
        mantissaSeen = true;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (significantDigits < 19) {
            if (significand != 0 || digit != 0) {
                ++significantDigits;
            }
            significand = significand * 10 + digit;
            if (fraction)
                --scale;
        } else if (!fraction) {
            ++scale;
        }
    };
    while (i < n && IsDigit(text[i]))
        takeDigit(text[i++], false);
    if (i < n && text[i] == decimalSeparator) {
        mantissaSeen = true;
        ++i;
        while (i < n && IsDigit(text[i]))
            takeDigit(text[i++], true);
    }
    if (!mantissaSeen) {
        return std::nullopt;
    }

    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool exponentNegative = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            exponentNegative = text[i] == '-';
            ++i;
        }
        long long exponent = 0;
        while (i < n && IsDigit(text[i])) {
            if (exponent < 100000)
                exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        scale += exponentNegative ? -exponent : exponent;
    }
    while (i < n && text[i] == ' ')
        ++i;
    if (i != n) {
        return std::nullopt;
    }

    long double value = 0;
    if (significand != 0) {
        const auto digits = static_cast<long double>(significand);
        if (scale > 5000) {
            return std::nullopt;
        }
        if (scale < -5000) {
            value = 0;
        } else if (scale < -4900) {
            // Two steps, so the power itself does not underflow first.
            value = digits * PowerOfTen(static_cast<int>(scale + 100)) / PowerOfTen(100);
        } else if (scale < 0) {
            value = digits / PowerOfTen(static_cast<int>(-scale));
        } else {
            value = digits * PowerOfTen(static_cast<int>(scale));
        }
        if (std::isinf(value)) {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

}  // namespace vorlund
