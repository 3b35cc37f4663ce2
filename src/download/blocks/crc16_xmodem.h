// The 16-bit check of XMODEM and YMODEM blocks: polynomial 0x1021, initial
// value 0, no reflection, no final XOR. Sent high byte first.
#pragma once

#include <cstdint>
#include <string_view>

namespace vorlund {

constexpr std::uint16_t Crc16Xmodem(std::string_view bytes) {
    std::uint16_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint16_t>(static_cast<unsigned char>(c) << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

// The check value of the catalogue of CRC algorithms.
static_assert(Crc16Xmodem("123456789") == 0x31C3);

}  // namespace vorlund
