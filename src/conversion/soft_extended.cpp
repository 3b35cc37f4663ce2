#include "conversion/soft_extended.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vorlund {
namespace {

constexpr int kBias = 16383;
constexpr int kMaxField = 0x7FFF;
constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 62;
// What the x87 gives for an invalid operation (inf - inf, 0 * inf, 0 / 0,
// inf / inf): the negative quiet NaN it calls "real indefinite".
constexpr ExtendedBits kDefaultNan{0xFFFF, kIntegerBit | kQuietBit};

// 128 bits, most significant half first. No 128-bit integer type exists on
// 32-bit ARM, so the few operations needed are spelled out.
struct Wide {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
};

// Shifts right and ORs every bit shifted out into the lowest bit: with 64
// bits below the rounding position that keeps the rounding exact.
Wide ShiftRightJamming(Wide w, int count) {
    if (count <= 0) {
        return w;
    }
    if (count >= 128) {
        return {0, (w.high | w.low) != 0 ? 1u : 0u};
    }
    if (count >= 64) {
        const std::uint64_t lost = (count == 64 ? 0 : w.high << (128 - count)) | w.low;
        return {0, (count == 64 ? w.high : w.high >> (count - 64)) | (lost != 0 ? 1u : 0u)};
    }
    const bool lost = (w.low << (64 - count)) != 0;
    return {w.high >> count, (w.low >> count) | (w.high << (64 - count)) | (lost ? 1u : 0u)};
}

int CountLeadingZeros(Wide w) {
    return w.high != 0 ? std::countl_zero(w.high) : 64 + std::countl_zero(w.low);
}

Wide ShiftLeft(Wide w, int count) {
    if (count == 0) {
        return w;
    }
    if (count >= 64) {
        return {w.low << (count - 64), 0};
    }
    return {(w.high << count) | (w.low >> (64 - count)), w.low << count};
}

Wide Multiply(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32;
    const std::uint64_t b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFFu)};
}

// A finite, nonzero value: significand x 2^(exponent - 63), with the
// significand's top bit set (subnormals are normalised here).
struct Unpacked {
    bool negative = false;
    int exponent = 0;
    std::uint64_t significand = 0;
};

bool IsNegative(ExtendedBits x) {
    return (x.signExponent & 0x8000) != 0;
}

int Field(ExtendedBits x) {
    return x.signExponent & kMaxField;
}

bool IsZero(ExtendedBits x) {
    return Field(x) == 0 && x.significand == 0;
}

bool IsInf(ExtendedBits x) {
    return Field(x) == kMaxField && x.significand == kIntegerBit;
}

bool IsNaN(ExtendedBits x) {
    return Field(x) == kMaxField && x.significand != kIntegerBit;
}

ExtendedBits Signed(bool negative, int field, std::uint64_t significand) {
    return {static_cast<std::uint16_t>((negative ? 0x8000 : 0) | field), significand};
}

ExtendedBits Infinity(bool negative) {
    return Signed(negative, kMaxField, kIntegerBit);
}

ExtendedBits Zero(bool negative) {
    return Signed(negative, 0, 0);
}

Unpacked Unpack(ExtendedBits x) {
    Unpacked u{IsNegative(x), Field(x) - kBias, x.significand};
    if (Field(x) == 0) {
        const int shift = std::countl_zero(u.significand);
        u.significand <<= shift;
        u.exponent = 1 - kBias - shift;
    }
    return u;
}

// Rounds significand x 2^(exponent - 127), whose top bit is set, to the
// format: ties to even, subnormal below the normal range (rounded once, at
// the subnormal's own precision), infinity above it.
ExtendedBits Round(bool negative, int exponent, Wide w) {
    int field = exponent + kBias;
    if (field < 1) {
        w = ShiftRightJamming(w, std::min(1 - field, 128));
        field = 0;
    }
    std::uint64_t significand = w.high;
    const bool half = (w.low >> 63) != 0;
    const bool beyondHalf = (w.low << 1) != 0;
    if (half && (beyondHalf || (significand & 1) != 0)) {
        ++significand;
        if (significand == 0) {  // carried out of the significand
            significand = kIntegerBit;
            ++field;
        } else if (field == 0 && (significand & kIntegerBit) != 0) {
            field = 1;  // the largest subnormal rounded up to the smallest normal
        }
    }
    if (field >= kMaxField) {
        return Infinity(negative);
    }
    return Signed(negative, field, significand);
}

// The x87's rules when an operand is a NaN: a quiet NaN wins over a
// signalling one, else the larger significand, else the positive sign; the
// result is always quiet.
ExtendedBits PropagateNan(ExtendedBits a, ExtendedBits b) {
    const auto quiet = [](ExtendedBits x) {
        x.significand |= kQuietBit;
        return x;
    };
    if (!IsNaN(b)) {
        return quiet(a);
    }
    if (!IsNaN(a)) {
        return quiet(b);
    }
    const bool aQuiet = (a.significand & kQuietBit) != 0;
    const bool bQuiet = (b.significand & kQuietBit) != 0;
    if (aQuiet != bQuiet) {
        return aQuiet ? a : b;
    }
    if (a.significand != b.significand) {
        return quiet(a.significand > b.significand ? a : b);
    }
    return quiet(IsNegative(a) ? b : a);
}

ExtendedBits AddBits(ExtendedBits a, ExtendedBits b) {
    if (IsNaN(a) || IsNaN(b)) {
        return PropagateNan(a, b);
    }
    if (IsInf(a)) {
        return IsInf(b) && IsNegative(a) != IsNegative(b) ? kDefaultNan : a;
    }
    if (IsInf(b)) {
        return b;
    }
    if (IsZero(a)) {
        return IsZero(b) ? Zero(IsNegative(a) && IsNegative(b)) : b;
    }
    if (IsZero(b)) {
        return a;
    }
    Unpacked x = Unpack(a);
    Unpacked y = Unpack(b);
    if (x.exponent < y.exponent || (x.exponent == y.exponent && x.significand < y.significand)) {
        std::swap(x, y);
    }
    const Wide larger{x.significand, 0};
    const Wide smaller =
        ShiftRightJamming({y.significand, 0}, std::min(x.exponent - y.exponent, 128));
    int exponent = x.exponent;
    if (x.negative == y.negative) {
        // The larger operand's low half is zero: no carry between the halves.
        Wide sum{larger.high + smaller.high, smaller.low};
        if (sum.high < larger.high) {  // carried out: one place to the right
            sum = ShiftRightJamming(sum, 1);
            sum.high |= kIntegerBit;
            ++exponent;
        }
        return Round(x.negative, exponent, sum);
    }
    Wide difference{larger.high - smaller.high - (larger.low < smaller.low ? 1 : 0),
                    larger.low - smaller.low};
    if (difference.high == 0 && difference.low == 0) {
        return Zero(false);  // x - x is +0 when rounding to nearest
    }
    const int shift = CountLeadingZeros(difference);
    return Round(x.negative, exponent - shift, ShiftLeft(difference, shift));
}

ExtendedBits MultiplyBits(ExtendedBits a, ExtendedBits b) {
    const bool negative = IsNegative(a) != IsNegative(b);
    if (IsNaN(a) || IsNaN(b)) {
        return PropagateNan(a, b);
    }
    if (IsInf(a) || IsInf(b)) {
        return IsZero(a) || IsZero(b) ? kDefaultNan : Infinity(negative);
    }
    if (IsZero(a) || IsZero(b)) {
        return Zero(negative);
    }
    const Unpacked x = Unpack(a);
    const Unpacked y = Unpack(b);
    Wide product = Multiply(x.significand, y.significand);
    int exponent = x.exponent + y.exponent + 1;
    if ((product.high & kIntegerBit) == 0) {
        product = ShiftLeft(product, 1);
        --exponent;
    }
    return Round(negative, exponent, product);
}

ExtendedBits DivideBits(ExtendedBits a, ExtendedBits b) {
    const bool negative = IsNegative(a) != IsNegative(b);
    if (IsNaN(a) || IsNaN(b)) {
        return PropagateNan(a, b);
    }
    if (IsInf(a)) {
        return IsInf(b) ? kDefaultNan : Infinity(negative);
    }
    if (IsInf(b)) {
        return Zero(negative);
    }
    if (IsZero(b)) {
        return IsZero(a) ? kDefaultNan : Infinity(negative);
    }
    if (IsZero(a)) {
        return Zero(negative);
    }
    const Unpacked x = Unpack(a);
    const Unpacked y = Unpack(b);
    int exponent = x.exponent - y.exponent;
    // The partial remainder is below twice the divisor: 65 bits, the top one
    // kept apart.
    std::uint64_t remainder = x.significand;
    bool remainderTop = false;
    if (x.significand < y.significand) {
        remainderTop = (remainder & kIntegerBit) != 0;
        remainder <<= 1;
        --exponent;
    }
    const auto nextBit = [&] {
        const bool bit = remainderTop || remainder >= y.significand;
        if (bit) {
            remainder -= y.significand;  // wraps back below 2^64 when the top bit is set
        }
        remainderTop = (remainder & kIntegerBit) != 0;
        remainder <<= 1;
        return bit;
    };
    std::uint64_t quotient = 0;
    for (int i = 0; i < 64; ++i) {
        quotient = (quotient << 1) | (nextBit() ? 1u : 0u);
    }
    const bool half = nextBit();
    const bool beyondHalf = remainderTop || remainder != 0;
    return Round(negative, exponent, {quotient, (half ? kIntegerBit : 0) | (beyondHalf ? 1u : 0u)});
}

}  // namespace

SoftExtended::SoftExtended(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int field = static_cast<int>(bits >> 52 & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    ExtendedBits result = Zero(negative);
    if (field == 0x7FF) {
        // Loading a signalling NaN quietens it.
        result = fraction == 0
                     ? Infinity(negative)
                     : Signed(negative, kMaxField, kIntegerBit | kQuietBit | fraction << 11);
    } else if (field == 0) {
        if (fraction != 0) {  // a subnormal double is a normal extended value
            const int shift = std::countl_zero(fraction);
            result = Signed(negative, 63 - shift - 1074 + kBias, fraction << shift);
        }
    } else {
        result = Signed(negative, field - 1023 + kBias, kIntegerBit | fraction << 11);
    }
    *this = FromBits(result);
}

SoftExtended SoftExtended::FromMagnitude(bool negative, std::uint64_t magnitude) {
    if (magnitude == 0) {
        return {};
    }
    const int shift = std::countl_zero(magnitude);
    return FromBits(Signed(negative, 63 - shift + kBias, magnitude << shift));
}

SoftExtended SoftExtended::FromBits(ExtendedBits bits) {
    SoftExtended x;
    x.signExponent_ = bits.signExponent;
    x.significand_ = bits.significand;
    return x;
}

SoftExtended::operator double() const {
    const ExtendedBits x = Bits();
    std::uint64_t bits = 0;
    if (IsNaN(x)) {
        // The significand's top fraction bits, made quiet, as the x87 stores it.
        bits = std::uint64_t{0x7FF} << 52 | std::uint64_t{1} << 51 |
               (x.significand >> 11 & ((std::uint64_t{1} << 52) - 1));
    } else if (IsInf(x)) {
        bits = std::uint64_t{0x7FF} << 52;
    } else if (!IsZero(x)) {
        const Unpacked u = Unpack(x);
        int field = u.exponent + 1023;
        if (field >= 0x7FF) {
            bits = std::uint64_t{0x7FF} << 52;
        } else {
            // Below the normal range the same rounding keeps fewer bits; a
            // subnormal rounded up to 2^52 becomes the smallest normal by itself.
            int shift = 11;
            if (field < 1) {
                shift += 1 - field;
                field = 1;
            }
            const Wide kept = ShiftRightJamming({u.significand, 0}, std::min(shift, 128));
            std::uint64_t significand = kept.high;
            if ((kept.low >> 63) != 0 && ((kept.low << 1) != 0 || (significand & 1) != 0)) {
                ++significand;
            }
            // The implicit bit adds the last 1 to the exponent field, and a
            // carry out of the significand one more.
            bits = (static_cast<std::uint64_t>(field - 1) << 52) + significand;
            if ((bits >> 52) >= 0x7FF) {
                bits = std::uint64_t{0x7FF} << 52;
            }
        }
    }
    if (IsNegative(x)) {
        bits |= std::uint64_t{1} << 63;
    }
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

SoftExtended SoftExtended::Add(SoftExtended a, SoftExtended b, bool subtract) {
    // A NaN operand comes back as it is, never with its sign turned.
    return FromBits(AddBits(a.Bits(), (subtract && !IsNan(b) ? -b : b).Bits()));
}

SoftExtended operator*(SoftExtended a, SoftExtended b) {
    return SoftExtended::FromBits(MultiplyBits(a.Bits(), b.Bits()));
}

SoftExtended operator/(SoftExtended a, SoftExtended b) {
    return SoftExtended::FromBits(DivideBits(a.Bits(), b.Bits()));
}

bool operator==(SoftExtended a, SoftExtended b) {
    if (IsNan(a) || IsNan(b)) {
        return false;
    }
    const ExtendedBits x = a.Bits(), y = b.Bits();
    return x == y || (IsZero(x) && IsZero(y));
}

}  // namespace vorlund
