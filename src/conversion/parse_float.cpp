#include "conversion/parse_float.h"

#include <cstdint>

#include "conversion/power_of_ten.h"

namespace vorlund {
namespace {

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

Extended PowerOfTen(int exponent) {
    return PowerOfTenIn<Extended>(exponent);
}

std::optional<Extended> ParseFloat(std::string_view text, char decimalSeparator) {
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

    Extended value = 0;
    if (significand != 0) {
        const Extended digits = significand;
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
        if (IsInfinite(value)) {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

}  // namespace vorlund
