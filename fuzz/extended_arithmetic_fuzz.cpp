// The software extended type against the x87's own long double: the input is
// a little program of loads and operations on four registers, run on both,
// and every result must have the same bits. Builds on x86 only.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "conversion/extended.h"
#include "conversion/power_of_ten.h"

namespace {

using vorlund::ExtendedBits;
using Hardware = vorlund::HardwareExtended<long double>;
using Soft = vorlund::SoftExtended;
static_assert(vorlund::kLongDoubleIsX87, "the reference is the x87's long double");

struct Register {
    Soft soft;
    Hardware hardware;
};

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return size_ == 0; }
    template <class T>
    T Take() {
        T value{};
        const std::size_t n = sizeof value < size_ ? sizeof value : size_;
        std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Only encodings the x87 itself produces: the integer bit set exactly when
// the exponent field is not zero.
ExtendedBits Canonical(ExtendedBits bits) {
    const std::uint64_t integerBit = std::uint64_t{1} << 63;
    if ((bits.signExponent & 0x7FFF) == 0) {
        bits.significand &= ~integerBit;
    } else {
        bits.significand |= integerBit;
    }
    return bits;
}

void Check(const Register& r, const char* operation) {
    const ExtendedBits soft = r.soft.Bits();
    const ExtendedBits hardware = r.hardware.Bits();
    if (soft != hardware) {
        std::fprintf(stderr, "%s: software %04x %016llx, hardware %04x %016llx\n", operation,
                     soft.signExponent, static_cast<unsigned long long>(soft.significand),
                     hardware.signExponent, static_cast<unsigned long long>(hardware.significand));
        std::abort();
    }
}

template <class T>
void Load(Register& r, T value) {
    r.soft = Soft(value);
    r.hardware = Hardware(value);
}

}  // namespace

// Significands where rounding is decided: runs of ones (carries), a lone
// low bit (ties and sticky bits), or both.
std::uint64_t Pattern(std::uint8_t shape) {
    const int n = shape & 63;
    const std::uint64_t ones = n == 0 ? 0 : ~std::uint64_t{0} >> (64 - n);
    switch (shape >> 6) {
        case 0:
            return ones;
        case 1:
            return std::uint64_t{1} << n;
        case 2:
            return ~ones;
        default:
            return (std::uint64_t{1} << 63) | std::uint64_t{1} << n;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    Register registers[4];
    while (!input.Empty()) {
        const auto operands = input.Take<std::uint8_t>();
        Register& target = registers[operands & 3];
        const Register a = registers[operands >> 2 & 3];
        const Register b = registers[operands >> 4 & 3];
        const char* operation = "";
        switch (input.Take<std::uint8_t>() % 13) {
            case 0:
            case 1: {
                ExtendedBits bits;
                bits.signExponent = input.Take<std::uint16_t>();
                bits.significand = (operands & 0x80) != 0 ? Pattern(input.Take<std::uint8_t>())
                                                          : input.Take<std::uint64_t>();
                bits = Canonical(bits);
                target = {Soft::FromBits(bits), Hardware::FromBits(bits)};
                operation = "bits";
                break;
            }
            case 2:
                Load(target, input.Take<double>());
                operation = "from double";
                break;
            case 3:
                Load(target, input.Take<std::int64_t>());
                operation = "from int64";
                break;
            case 4:
                Load(target, (operands & 0x80) != 0 ? Pattern(input.Take<std::uint8_t>())
                                                    : input.Take<std::uint64_t>());
                operation = "from uint64";
                break;
            case 5:
                Load(target, input.Take<std::int32_t>());
                operation = "from int32";
                break;
            case 6: {
                const int exponent = input.Take<std::int16_t>();
                target = {vorlund::PowerOfTenIn<Soft>(exponent),
                          vorlund::PowerOfTenIn<Hardware>(exponent)};
                operation = "power of ten";
                break;
            }
            case 7: {
                const double soft = static_cast<double>(a.soft);
                const double hardware = static_cast<double>(a.hardware);
                if (std::memcmp(&soft, &hardware, sizeof soft) != 0) {
                    std::fprintf(stderr, "to double: software %a, hardware %a\n", soft, hardware);
                    std::abort();
                }
                Load(target, soft);
                operation = "to double and back";
                break;
            }
            case 8:
                target = {-a.soft, -a.hardware};
                operation = "negate";
                break;
            case 9:
                target = {a.soft + b.soft, a.hardware + b.hardware};
                operation = "add";
                break;
            case 10:
                target = {a.soft - b.soft, a.hardware - b.hardware};
                operation = "subtract";
                break;
            case 11:
                target = {a.soft * b.soft, a.hardware * b.hardware};
                operation = "multiply";
                break;
            default:
                target = {a.soft / b.soft, a.hardware / b.hardware};
                operation = "divide";
                break;
        }
        Check(target, operation);
        if ((a.soft == target.soft) != (a.hardware == target.hardware) ||
            IsInfinite(target.soft) != IsInfinite(target.hardware) ||
            IsNan(target.soft) != IsNan(target.hardware)) {
            std::fprintf(stderr, "%s: comparison or classification differs\n", operation);
            std::abort();
        }
    }
    return 0;
}
