#include "conversion/extended.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "conversion/power_of_ten.h"

namespace vorlund {
namespace {

// Bit patterns are the x87's (sign and exponent, significand with its integer
// bit). Each case runs on the software type and on the conversion's own type,
// which is the hardware's on x86: there the table is checked against the x87
// itself, elsewhere it pins the software type to the same bits.
struct Case {
    const char* what;
    ExtendedBits (*soft)();
    ExtendedBits (*extended)();
    ExtendedBits expected;
};

// clang-format off
#define CASE(what, expression, signExponent, significand)                      \
    Case{what,                                                                 \
         [] { using E = SoftExtended; return (expression).Bits(); },           \
         [] { using E = Extended; return (expression).Bits(); },               \
         ExtendedBits{signExponent, significand}}
// clang-format on

template <class E>
E FromBits(std::uint16_t signExponent, std::uint64_t significand) {
    return E::FromBits({signExponent, significand});
}

// Rounded to double and back, which is exact: the double's bits in the
// extended format.
template <class E>
E ThroughDouble(E x) {
    return E(static_cast<double>(x));
}

template <class E>
E SumOfTenths(int count) {
    const E tenth = E(1) / E(10);
    E sum = 0;
    for (int i = 0; i < count; ++i)
        sum += tenth;
    return sum;
}

constexpr std::uint64_t kTop = std::uint64_t{1} << 63;
constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
constexpr double kDoubleMax = std::numeric_limits<double>::max();
constexpr double kDoubleTrueMin = std::numeric_limits<double>::denorm_min();

const Case kCases[] = {
    // Conversions that must be exact.
    CASE("the smallest 64-bit integer", E(std::numeric_limits<std::int64_t>::min()), 0xC03E, kTop),
    CASE("the largest 64-bit unsigned integer", E(kAllOnes), 0x403E, kAllOnes),
    CASE("a subnormal double is a normal extended value", E(kDoubleTrueMin), 0x3BCD, kTop),
    // Ties to even, carries into the exponent.
    CASE("2^63 + 1/2 is a tie, kept even", E(kTop) + E(0.5), 0x403E, kTop),
    CASE("2^63 + 1 + 1/2 is a tie, rounded up to even", E(kTop + 1) + E(0.5), 0x403E, kTop + 2),
    CASE("just above a tie rounds up", E(kTop) + E(0.5 + 0x1p-30), 0x403E, kTop + 1),
    CASE("2^64 - 1/2 carries into the exponent", E(kAllOnes) + E(0.5), 0x403F, kTop),
    CASE("2^64 - 1/2 from above, a tie to even", E(1) * E(kTop) * E(2) - E(0.5), 0x403F, kTop),
    CASE("2^64 - 3/2 from above, a tie to even", E(1) * E(kTop) * E(2) - E(1.5), 0x403E,
         kAllOnes - 1),
    CASE("cancellation is exact", E(1.0000000000000002) - E(1), 0x3FCB, kTop),
    CASE("x - x is +0", E(-3) - E(-3), 0x0000, 0),
    CASE("-0 + -0 is -0", E(-0.0) + E(-0.0), 0x8000, 0),
    CASE("a product that needs 128 bits", E(kAllOnes) * E(kAllOnes), 0x407E, kAllOnes - 1),
    CASE("1/3", E(1) / E(3), 0x3FFD, 0xAAAAAAAAAAAAAAAB),
    CASE("2/3", E(2) / E(3), 0x3FFE, 0xAAAAAAAAAAAAAAAB),
    CASE("0.1 + 0.2 as the reader makes them", E(1) / E(10) + E(2) / E(10), 0x3FFD,
         0x999999999999999A),
    CASE("a fraction of the reader, 12345678901 / 10^11", E(12345678901) / PowerOfTenIn<E>(11),
         0x3FFB, 0xFCD6E9BA2310F90F),
    // Powers of ten beyond the exact table, by square-and-multiply.
    CASE("10^28", PowerOfTenIn<E>(28), 0x405C, 0x813F3978F8940984),
    CASE("10^4932", PowerOfTenIn<E>(4932), 0x7FFE, 0xD72CB2A95C7EF6A0),
    CASE("10^-4840 / 10^100, a subnormal as the reader makes 1e-4940",
         PowerOfTenIn<E>(-4840) / PowerOfTenIn<E>(100), 0x0000, 0x0000000663278E62),
    // Subnormals (ParseFloat reaches them) and overflow.
    CASE("the smallest subnormal halved is a tie, to zero", FromBits<E>(0, 1) / E(2), 0x0000, 0),
    CASE("three smallest subnormals halved is a tie, to two", FromBits<E>(0, 3) / E(2), 0x0000, 2),
    CASE("the largest subnormal rounded up is the smallest normal",
         FromBits<E>(0x0001, kTop) * FromBits<E>(0x3FFE, kAllOnes), 0x0001, kTop),
    CASE("beyond the largest value: infinity", FromBits<E>(0x7FFE, kAllOnes) * E(2), 0x7FFF, kTop),
    CASE("the largest value plus half a unit is a tie, up to infinity",
         FromBits<E>(0x7FFE, kAllOnes) + FromBits<E>(0x7FBE, kTop), 0x7FFF, kTop),
    CASE("infinity minus infinity is the x87's default NaN",
         FromBits<E>(0x7FFF, kTop) - FromBits<E>(0x7FFF, kTop), 0xFFFF, 0xC000000000000000),
    // Rounding to double: once, from the extended value.
    CASE("a tie between doubles goes to even", ThroughDouble(E(1) + E(0x1p-53)), 0x3FFF, kTop),
    CASE("a tie between doubles goes up to even", ThroughDouble(E(1) + E(0x3p-53)), 0x3FFF,
         kTop + (std::uint64_t{1} << 12)),
    CASE("the extended sum decides the double: 1 + 2^-53 + 2^-80",
         ThroughDouble(E(1) + E(0x1p-53) + E(0x1p-80)), 0x3FFF, kTop),
    CASE("beyond the double range: infinity", ThroughDouble(E(kDoubleMax) + E(0x1p970)), 0x7FFF,
         kTop),
    CASE("just below that, the largest double", ThroughDouble(E(kDoubleMax) + E(0x1p969)), 0x43FE,
         0xFFFFFFFFFFFFF800),
    CASE("a subnormal double and a half: a tie, to two", ThroughDouble(E(kDoubleTrueMin) * E(1.5)),
         0x3BCE, kTop),
    CASE("half the smallest subnormal double: a tie, to zero",
         ThroughDouble(E(kDoubleTrueMin) * E(0.5)), 0x0000, 0),
    CASE("the largest subnormal double rounded up is the smallest normal",
         ThroughDouble(E(0x1p-1022) * FromBits<E>(0x3FFE, kAllOnes)), 0x3C01, kTop),
    // Long sums, as the summing table makes them.
    CASE("a hundred thousand tenths", SumOfTenths<E>(100000), 0x400C, 0x9C3FFFFFFFFFFA56),
    CASE("ones lost beside 10^20",
         E(100000000000000000000.0) + E(1) + E(1) + E(1) - E(100000000000000000000.0), 0x0000, 0),
    CASE("ones kept beside 10^16",
         E(10000000000000000.0) + E(1) + E(1) + E(1) - E(10000000000000000.0), 0x4000,
         0xC000000000000000),
};

TEST(Extended, GivesTheX87ResultsBitForBit) {
    for (const Case& c : kCases) {
        const ExtendedBits soft = c.soft();
        const ExtendedBits extended = c.extended();
        EXPECT_EQ(soft, c.expected)
            << c.what << ": software " << std::hex << soft.signExponent << ' ' << soft.significand;
        EXPECT_EQ(extended, c.expected)
            << c.what << ": " << std::hex << extended.signExponent << ' ' << extended.significand;
    }
}

}  // namespace
}  // namespace vorlund
