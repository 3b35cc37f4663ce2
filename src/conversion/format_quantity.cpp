#include "conversion/format_quantity.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vorlund {
namespace {

// The exact decimal digits of a double, with the position of the decimal
// point: value = 0.digits x 10^point. A double's exact expansion is finite,
// so a small base-10^9 big integer gives it without any rounding.
struct Decimal {
    std::string digits;  // no leading zeros, at least one digit
    int point = 0;
};

// Base 10^9 limbs, least significant first, on the stack: the largest
// expansion, that of the smallest subnormal, has 767 digits.
class BigDecimalInteger {
  public:
    explicit BigDecimalInteger(std::uint64_t value) {
        do {
            limbs_[size_++] = static_cast<std::uint32_t>(value % kBase);
            value /= kBase;
        } while (value != 0);
    }

    void MultiplyBy(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < size_; ++i) {
            const std::uint64_t product = std::uint64_t{limbs_[i]} * factor + carry;
            limbs_[i] = static_cast<std::uint32_t>(product % kBase);
            carry = product / kBase;
        }
        while (carry != 0) {
            limbs_[size_++] = static_cast<std::uint32_t>(carry % kBase);
            carry /= kBase;
        }
    }

    void MultiplyByPower(std::uint32_t base, std::uint32_t chunk, int chunkExponent, int exponent) {
        for (; exponent >= chunkExponent; exponent -= chunkExponent)
            MultiplyBy(chunk);
        for (; exponent > 0; --exponent)
            MultiplyBy(base);
    }

    std::string ToDigits() const {
        std::string text;
        AppendLimb(text, limbs_[size_ - 1], false);
        for (std::size_t i = size_ - 1; i-- > 0;) {
            AppendLimb(text, limbs_[i], true);
        }
        return text;
    }

  private:
    static constexpr std::uint64_t kBase = 1000000000;

    static void AppendLimb(std::string& text, std::uint32_t limb, bool padded) {
        char digits[9];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + limb % 10);
            limb /= 10;
        } while (limb != 0 || (padded && count < 9));
        while (count > 0)
            text += digits[--count];
    }

    std::array<std::uint32_t, 96> limbs_{};
    std::size_t size_ = 0;
};

std::string IntegerDigits(std::uint64_t value) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::string text;
    while (count > 0)
        text += digits[--count];
    return text;
}

Decimal ExactDecimal(double value) {
    // Whole quantities, by far the most common, need no big arithmetic.
    if (value < 1e15 && value == std::trunc(value)) {
        Decimal decimal;
        decimal.digits = IntegerDigits(static_cast<std::uint64_t>(value));
        decimal.point = static_cast<int>(decimal.digits.size());
        return decimal;
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biasedExponent = static_cast<int>(bits >> 52 & 0x7FF);
    std::uint64_t significand = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent = 0;
    if (biasedExponent == 0) {
        exponent = -1074;
    } else {
        significand |= std::uint64_t{1} << 52;
        exponent = biasedExponent - 1075;
    }
    while (exponent < 0 && (significand & 1) == 0) {
        significand >>= 1;
        ++exponent;
    }
    BigDecimalInteger number(significand);
    if (exponent >= 0) {
        number.MultiplyByPower(2, 1u << 30, 30, exponent);
    } else {
        // m / 2^k = m * 5^k / 10^k
        number.MultiplyByPower(5, 1220703125u, 13, -exponent);
    }
    Decimal decimal;
    decimal.digits = number.ToDigits();
    decimal.point = static_cast<int>(decimal.digits.size()) + (exponent < 0 ? exponent : 0);
    return decimal;
}

// Rounds to `count` significant digits by the digit after them: 5 or more
// raises the last kept digit. `ties` decides an exact 5 followed by nothing.
void RoundDigits(Decimal& decimal, std::size_t count, bool exactTiesRoundUp) {
    if (decimal.digits.size() <= count) {
        return;
    }
    const char next = decimal.digits[count];
    const bool tail = decimal.digits.find_first_not_of('0', count + 1) != std::string::npos;
    bool up = next > '5' || (next == '5' && (tail || exactTiesRoundUp));
    if (next == '5' && !tail && !exactTiesRoundUp) {
        up = (decimal.digits[count - 1] - '0') % 2 == 1;  // to even
    }
    decimal.digits.resize(count);
    if (!up) {
        return;
    }
    std::size_t i = count;
    while (i > 0 && decimal.digits[i - 1] == '9') {
        decimal.digits[--i] = '0';
    }
    if (i == 0) {
        decimal.digits.insert(decimal.digits.begin(), '1');
        decimal.digits.pop_back();
        ++decimal.point;
    } else {
        ++decimal.digits[i - 1];
    }
}

std::string WriteGeneral(const Decimal& decimal, char separator) {
    const std::string& d = decimal.digits;
    std::string text;
    if (decimal.point > 15 || decimal.point < -3) {
        text += d[0];
        if (d.size() > 1) {
            text += separator;
            text.append(d, 1);
        }
        text += 'E';
        text += std::to_string(decimal.point - 1);
        return text;
    }
    if (decimal.point <= 0) {
        text = "0";
        text += separator;
        text.append(static_cast<std::size_t>(-decimal.point), '0');
        text += d;
        return text;
    }
    const auto integerDigits = static_cast<std::size_t>(decimal.point);
    if (d.size() <= integerDigits) {
        return d + std::string(integerDigits - d.size(), '0');
    }
    text.assign(d, 0, integerDigits);
    text += separator;
    text.append(d, integerDigits);
    return text;
}

}  // namespace

std::string FormatQuantity(Extended quantity, char decimalSeparator) {
    const double value = static_cast<double>(quantity);
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    if (value == 0) {
        return "0";  // a negative zero too
    }
    Decimal decimal = ExactDecimal(std::fabs(value));
    // First the 18 significant digits of the extended format, then 15 of
    // them by the 16th digit.
    RoundDigits(decimal, 18, false);
    RoundDigits(decimal, 15, true);
    decimal.digits.erase(decimal.digits.find_last_not_of('0') + 1);

    std::string text = WriteGeneral(decimal, decimalSeparator);
    if (value < 0) {
        text.insert(text.begin(), '-');
    }
    if (const std::size_t comma = text.find(','); comma != std::string::npos) {
        text[comma] = '.';
    }
    return text;
}

}  // namespace vorlund
