// YMODEM blocks framed as a sender frames them, for tests that play the
// sending side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/blocks/crc16_xmodem.h"

namespace vorlund::testing {

// SOH for 128 bytes, STX for 1,024, the payload padded with SUB (or NUL for a
// header), CRC high byte first.
inline std::string Block(std::uint8_t number, std::string_view payload, std::size_t size = 128,
                         char padding = '\x1A') {
    std::string content(payload);
    content.resize(size, padding);
    std::string block;
    block.push_back(size == 1024 ? '\x02' : '\x01');
    block.push_back(static_cast<char>(number));
    block.push_back(static_cast<char>(0xFF - number));
    block += content;
    const std::uint16_t crc = Crc16Xmodem(content);
    block.push_back(static_cast<char>(crc >> 8));
    block.push_back(static_cast<char>(crc & 0xFF));
    return block;
}

// The same with the one-byte checksum of the original protocol.
inline std::string ChecksumBlock(std::uint8_t number, std::string_view payload,
                                 std::size_t size = 128) {
    std::string block = Block(number, payload, size);
    block.resize(block.size() - 2);
    unsigned sum = 0;
    for (std::size_t i = 3; i < block.size(); ++i) sum += static_cast<unsigned char>(block[i]);
    block.push_back(static_cast<char>(sum & 0xFF));
    return block;
}

// Block 0: the name, NUL, then the fields ("size mtime mode ...").
inline std::string Header(std::string_view nameAndFields) {
    return Block(0, std::string(nameAndFields) + '\0', 128, '\0');
}

}  // namespace vorlund::testing
