// The 32-bit check of ZMODEM's headers and data, and of a file's contents
// when a ZMODEM sender is asked to prove a part it sent before: the CRC-32
// of Ethernet and zip (polynomial 0x04C11DB7 reflected, initial value and
// final XOR all ones). Sent low byte first.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vorlund {
namespace crc32_detail {

constexpr std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xEDB88320U : crc >> 1;
        }
        table[byte] = crc;
    }
    return table;
}
inline constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

}  // namespace crc32_detail

class Crc32 {
  public:
    // Goes on over further bytes: the check of a whole that arrives in parts.
    constexpr void Update(std::string_view bytes) {
        for (const char byte : bytes) {
            state_ = crc32_detail::kTable[(state_ ^ static_cast<unsigned char>(byte)) & 0xFFU] ^ (state_ >> 8);
        }
    }
    constexpr std::uint32_t Value() const { return state_ ^ 0xFFFFFFFFU; }

    static constexpr std::uint32_t Of(std::string_view bytes) {
        Crc32 crc;
        crc.Update(bytes);
        return crc.Value();
    }

  private:
    std::uint32_t state_ = 0xFFFFFFFFU;
};

// The check value of the catalogue of CRC algorithms.
static_assert(Crc32::Of("123456789") == 0xCBF43926U);

}  // namespace vorlund
