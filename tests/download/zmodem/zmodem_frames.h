// ZMODEM frames framed as a sender frames them, and the receiver's ready
// header, for tests that play the sending side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "download/zmodem/zmodem_frame.h"

namespace vorlund::testing::zmodem_frames {

using zmodem::FrameType;

inline std::string Hex(FrameType type, std::uint32_t position = 0) {
    return EncodeHexHeader(ZmodemHeader::At(type, position));
}
inline std::string Bin(FrameType type, std::uint32_t position = 0) {
    return EncodeBinaryHeader(ZmodemHeader::At(type, position), true);
}
inline std::string Data(std::string_view bytes, char end = zmodem::kCrcGo) {
    return EncodeSubpacket(bytes, end, true);
}
// ZFILE with the file's information ("name\0size mtime ...").
inline std::string Offer(std::string_view fields, std::uint8_t conversion = 0) {
    return EncodeBinaryHeader(ZmodemHeader::WithFlags(FrameType::kFile, conversion), true) +
           Data(fields, zmodem::kCrcWait);
}
// A whole file from its first byte to its end of file.
inline std::string File(std::string_view content) {
    return Bin(FrameType::kData, 0) + Data(content, zmodem::kCrcEnd) +
           Bin(FrameType::kEof, static_cast<std::uint32_t>(content.size()));
}
inline const std::string kReady = EncodeHexHeader(ZmodemHeader::WithFlags(FrameType::kRInit, 0x23));

}  // namespace vorlund::testing::zmodem_frames
