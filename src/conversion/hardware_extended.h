#pragma once

#include <cmath>
#include <concepts>
#include <cstring>
#include <limits>

#include "conversion/soft_extended.h"

namespace vorlund {

// The machine's own 80-bit long double behind the interface of SoftExtended,
// so that the conversion reads the same on every machine and x86 keeps its
// hardware speed. A template only so that machines without the format never
// instantiate it.
template <class Float>
class HardwareExtended {
    static_assert(std::numeric_limits<Float>::digits == 64);

  public:
    constexpr HardwareExtended() = default;
    template <std::integral T>
    constexpr HardwareExtended(T value) : value_(static_cast<Float>(value)) {}  // implicit
    constexpr explicit HardwareExtended(double value) : value_(value) {}
    HardwareExtended(long double) = delete;  // as for SoftExtended

    static constexpr HardwareExtended FromNative(Float value) {
        HardwareExtended x;
        x.value_ = value;
        return x;
    }
    constexpr Float Native() const { return value_; }

    static HardwareExtended FromBits(ExtendedBits bits) {
        HardwareExtended x;
        std::memcpy(&x.value_, &bits.significand, sizeof bits.significand);
        std::memcpy(reinterpret_cast<char*>(&x.value_) + sizeof bits.significand,
                    &bits.signExponent, sizeof bits.signExponent);
        return x;
    }
    ExtendedBits Bits() const {
        ExtendedBits bits;
        std::memcpy(&bits.significand, &value_, sizeof bits.significand);
        std::memcpy(&bits.signExponent,
                    reinterpret_cast<const char*>(&value_) + sizeof bits.significand,
                    sizeof bits.signExponent);
        return bits;
    }

    constexpr explicit operator double() const { return static_cast<double>(value_); }

    friend constexpr HardwareExtended operator+(HardwareExtended a, HardwareExtended b) {
        return FromNative(a.value_ + b.value_);
    }
    friend constexpr HardwareExtended operator-(HardwareExtended a, HardwareExtended b) {
        return FromNative(a.value_ - b.value_);
    }
    friend constexpr HardwareExtended operator*(HardwareExtended a, HardwareExtended b) {
        return FromNative(a.value_ * b.value_);
    }
    friend constexpr HardwareExtended operator/(HardwareExtended a, HardwareExtended b) {
        return FromNative(a.value_ / b.value_);
    }
    friend constexpr HardwareExtended operator-(HardwareExtended a) {
        return FromNative(-a.value_);
    }
    constexpr HardwareExtended& operator+=(HardwareExtended other) {
        value_ += other.value_;
        return *this;
    }
    constexpr HardwareExtended& operator-=(HardwareExtended other) {
        value_ -= other.value_;
        return *this;
    }
    constexpr HardwareExtended& operator*=(HardwareExtended other) {
        value_ *= other.value_;
        return *this;
    }
    constexpr HardwareExtended& operator/=(HardwareExtended other) {
        value_ /= other.value_;
        return *this;
    }

    friend constexpr bool operator==(HardwareExtended a, HardwareExtended b) {
        return a.value_ == b.value_;
    }

    friend bool IsInfinite(HardwareExtended x) { return std::isinf(x.value_); }
    friend bool IsNan(HardwareExtended x) { return std::isnan(x.value_); }

  private:
    Float value_ = 0;
};

}  // namespace vorlund
