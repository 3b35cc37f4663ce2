// The bytes of the YMODEM line protocol.
#pragma once

namespace vorlund {

inline constexpr char kSoh = 0x01;  // a block of 128 bytes follows
inline constexpr char kStx = 0x02;  // a block of 1,024 bytes follows
inline constexpr char kEot = 0x04;  // end of transmission
inline constexpr char kAck = 0x06;
inline constexpr char kNak = 0x15;
inline constexpr char kCan = 0x18;        // two in a row cancel
inline constexpr char kCrcRequest = 'C';  // asks for a header or a block, with CRC
inline constexpr char kPadding = 0x1A;    // fills the last block of a file

}  // namespace vorlund
