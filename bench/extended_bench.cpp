// The software extended type against the hardware's on the conversion's own
// arithmetic: per line a whole quantity or one with a fraction (integer
// divided by a power of ten, then added), summed into one of many codes, and
// every sum rounded to double at the end. Prints nanoseconds per line for
// both and their ratio. x86 only: elsewhere there is no hardware reference.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "conversion/extended.h"
#include "conversion/power_of_ten.h"

namespace {

constexpr int kLines = 2000000;
constexpr int kCodes = 10000;

template <class E>
double NanosecondsPerLine(double& checksum) {
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<E> sums(kCodes);
        std::uint64_t state = 0x9E3779B97F4A7C15u;
        for (int line = 0; line < kLines; ++line) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            E quantity = static_cast<int>(1 + state % 20);
            if (state % 16 == 0)
                quantity =
                    quantity + E(static_cast<int>(state >> 8 & 127)) / vorlund::PowerOfTenIn<E>(3);
            sums[(state >> 32) % kCodes] += quantity;
        }
        double total = 0;
        for (const E& sum : sums)
            total += static_cast<double>(sum);
        const std::chrono::duration<double, std::nano> elapsed =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / kLines);
        checksum = total;
    }
    return best;
}

}  // namespace

int main() {
    static_assert(vorlund::kLongDoubleIsX87, "the reference is the x87's long double");
    double hardwareSum = 0, softwareSum = 0;
    const double hardware = NanosecondsPerLine<vorlund::HardwareExtended<long double>>(hardwareSum);
    const double software = NanosecondsPerLine<vorlund::SoftExtended>(softwareSum);
    std::printf("%d lines, %d codes, best of 5 runs\n", kLines, kCodes);
    std::printf("hardware long double   %6.1f ns per line\n", hardware);
    std::printf("software extended      %6.1f ns per line (%.2fx)\n", software,
                software / hardware);
    if (hardwareSum != softwareSum) {
        std::printf("the sums differ: %.17g and %.17g\n", hardwareSum, softwareSum);
        return 1;
    }
    return 0;
}
