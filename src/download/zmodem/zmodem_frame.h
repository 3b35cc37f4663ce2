// A ZMODEM header, the four bytes of its position or flags, and how the
// frames are written on the line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/zmodem/zmodem_bytes.h"

namespace vorlund {

struct ZmodemHeader {
    zmodem::FrameType type = zmodem::FrameType::kRqInit;
    // ZP0 to ZP3, as sent: a position least significant byte first, or the
    // flags ZF3 to ZF0.
    std::array<std::uint8_t, 4> bytes{};

    std::uint32_t Position() const {
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 |
               static_cast<std::uint32_t>(bytes[3]) << 24;
    }
    // ZF0 (n = 0) to ZF3.
    std::uint8_t Flag(int n) const { return bytes[static_cast<std::size_t>(3 - n)]; }

    static ZmodemHeader At(zmodem::FrameType type, std::uint32_t position);
    static ZmodemHeader WithFlags(zmodem::FrameType type, std::uint8_t zf0, std::uint8_t zf1 = 0);
};

// The receiver's ZRINIT: full duplex, data taken while the disk is written,
// CRC-32; a buffer size of 0, so the sender may stream the whole file
// without waiting.
ZmodemHeader ZmodemReadyHeader();

// A header in hex digits, as a receiver sends them: readable, and safe on
// any line; with CR LF and, but after ZACK and ZFIN, XON.
std::string EncodeHexHeader(const ZmodemHeader& header);

// A header and a data subpacket as a sender sends them: binary, with a
// CRC-32 or a CRC-16, ZDLE-escaped; `escapeControl` escapes every control
// character too, as a sender told to (sz -e) does. For the tests and tools
// that play the sender.
std::string EncodeBinaryHeader(const ZmodemHeader& header, bool crc32, bool escapeControl = false);
std::string EncodeSubpacket(std::string_view data, char end, bool crc32,
                            bool escapeControl = false);

}  // namespace vorlund
