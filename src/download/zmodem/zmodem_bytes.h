// The bytes and numbers of the ZMODEM line protocol, from its public
// description.
#pragma once

#include <cstdint>

namespace vorlund::zmodem {

inline constexpr char kPad = '*';    // ZPAD: one or two begin a header
inline constexpr char kDle = 0x18;   // ZDLE: the escape, also CAN
inline constexpr char kHex = 'B';    // a header in hex digits, CRC-16
inline constexpr char kBin16 = 'A';  // a binary header, CRC-16
inline constexpr char kBin32 = 'C';  // a binary header, CRC-32
inline constexpr char kXon = 0x11;
inline constexpr char kXoff = 0x13;

// What follows a ZDLE to end a data subpacket; its check comes next.
inline constexpr char kCrcEnd = 'h';       // ZCRCE: the frame ends, a header follows
inline constexpr char kCrcGo = 'i';        // ZCRCG: more data follows at once
inline constexpr char kCrcQuestion = 'j';  // ZCRCQ: more data follows; answer with ZACK
inline constexpr char kCrcWait = 'k';      // ZCRCW: the frame ends; answer with ZACK
inline constexpr char kRub0 = 'l';         // ZRUB0: 0x7F
inline constexpr char kRub1 = 'm';         // ZRUB1: 0xFF

enum class FrameType : std::uint8_t {
    kRqInit = 0,   // ZRQINIT: a sender asks for a receiver
    kRInit = 1,    // ZRINIT: the receiver is ready, with its abilities
    kSInit = 2,    // ZSINIT: the sender's options and attention string
    kAck = 3,      // ZACK
    kFile = 4,     // ZFILE: a file is offered; its name and fields follow
    kSkip = 5,     // ZSKIP
    kNak = 6,      // ZNAK: the last header was garbled; send it again
    kAbort = 7,    // ZABORT
    kFin = 8,      // ZFIN: the session ends
    kRPos = 9,     // ZRPOS: send from this position
    kData = 10,    // ZDATA: data from this position follows
    kEof = 11,     // ZEOF: the file ends at this position
    kFErr = 12,    // ZFERR
    kCrc = 13,     // ZCRC: a file's CRC-32, asked for and given
    kChallenge = 14,
    kCompl = 15,
    kCan = 16,
    kFreeCnt = 17,
    kCommand = 18,  // ZCOMMAND: a command to run on the receiving machine
    kStdErr = 19,
};

// ZRINIT's flags (ZF0).
inline constexpr std::uint8_t kCanFullDuplex = 0x01;   // CANFDX
inline constexpr std::uint8_t kCanOverlapIo = 0x02;    // CANOVIO
inline constexpr std::uint8_t kCanCrc32 = 0x20;        // CANFC32
// ZSINIT's flags (ZF0): the sender wants control characters escaped.
inline constexpr std::uint8_t kEscapeControl = 0x40;   // TESCCTL
// ZFILE's conversion option (ZF0): continue a file cut off before.
inline constexpr std::uint8_t kResume = 3;             // ZCRESUM

// The longest data subpacket taken: the 8 KB blocks of ZMODEM's extension
// for fast lines.
inline constexpr std::size_t kLongestSubpacket = 8192;

}  // namespace vorlund::zmodem
