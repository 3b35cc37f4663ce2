#pragma once

#include <concepts>
#include <cstdint>
#include <type_traits>

namespace vorlund {

// An 80-bit extended value as the x87 stores it: the sign and the 15-bit
// biased exponent, and the 64-bit significand with its explicit integer bit.
struct ExtendedBits {
    std::uint16_t signExponent = 0;
    std::uint64_t significand = 0;

    friend bool operator==(const ExtendedBits&, const ExtendedBits&) = default;
};

// The 80-bit extended format in portable code, for machines whose long double
// is something else (IEEE quad on arm64, plain double on armhf). Every
// operation rounds once, to nearest with ties to even, with gradual underflow,
// infinities and the x87's NaNs, so that every result is bit for bit the one
// the x87 gives: exports must not depend on the machine that summed them.
class SoftExtended {
  public:
    constexpr SoftExtended() = default;  // +0

    // Every 64-bit integer is exact in the 64-bit significand.
    template <std::integral T>
    SoftExtended(T value) {  // implicit, as for long double
        if constexpr (std::is_signed_v<T>) {
            const auto magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                             : static_cast<std::uint64_t>(value);
            *this = FromMagnitude(value < 0, magnitude);
        } else {
            *this = FromMagnitude(false, static_cast<std::uint64_t>(value));
        }
    }
    // Exact: every double is an extended value.
    explicit SoftExtended(double value);
    // A long double would silently lose its extra digits on some machines.
    SoftExtended(long double) = delete;

    // Any encoding the x87 itself produces: the integer bit set exactly when
    // the exponent field is not zero.
    static SoftExtended FromBits(ExtendedBits bits);
    ExtendedBits Bits() const { return {signExponent_, significand_}; }

    // Rounded to the nearest double, ties to even, once.
    explicit operator double() const;

    friend SoftExtended operator+(SoftExtended a, SoftExtended b) { return Add(a, b, false); }
    friend SoftExtended operator-(SoftExtended a, SoftExtended b) { return Add(a, b, true); }
    friend SoftExtended operator*(SoftExtended a, SoftExtended b);
    friend SoftExtended operator/(SoftExtended a, SoftExtended b);
    friend SoftExtended operator-(SoftExtended a) {
        a.signExponent_ ^= kSignBit;
        return a;
    }
    SoftExtended& operator+=(SoftExtended other) { return *this = *this + other; }
    SoftExtended& operator-=(SoftExtended other) { return *this = *this - other; }
    SoftExtended& operator*=(SoftExtended other) { return *this = *this * other; }
    SoftExtended& operator/=(SoftExtended other) { return *this = *this / other; }

    // IEEE equality: NaN equals nothing, +0 equals -0.
    friend bool operator==(SoftExtended a, SoftExtended b);

    friend bool IsInfinite(SoftExtended x) {
        return x.ExponentField() == kMaxExponentField && x.significand_ == kIntegerBit;
    }
    friend bool IsNan(SoftExtended x) {
        return x.ExponentField() == kMaxExponentField && x.significand_ != kIntegerBit;
    }

  private:
    static constexpr std::uint16_t kSignBit = 0x8000;
    static constexpr std::uint16_t kMaxExponentField = 0x7FFF;
    static constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;

    static SoftExtended FromMagnitude(bool negative, std::uint64_t magnitude);
    static SoftExtended Add(SoftExtended a, SoftExtended b, bool subtract);

    int ExponentField() const { return signExponent_ & kMaxExponentField; }

    std::uint64_t significand_ = 0;
    std::uint16_t signExponent_ = 0;
};

}  // namespace vorlund
