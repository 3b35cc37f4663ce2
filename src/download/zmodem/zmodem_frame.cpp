#include "download/zmodem/zmodem_frame.h"

#include "common/crc32.h"
#include "download/blocks/crc16_xmodem.h"

namespace vorlund {
namespace {

using namespace zmodem;

constexpr char kHexDigits[] = "0123456789abcdef";

// What a sender escapes: ZDLE itself, the flow-control bytes (with or
// without parity), and, when told to, every control character.
bool NeedsEscape(char byte, bool escapeControl) {
    const auto plain = static_cast<unsigned char>(byte & 0x7F);
    return byte == kDle || plain == 0x10 || plain == kXon || plain == kXoff ||
           (escapeControl && (plain < 0x20 || plain == 0x7F));
}

void AppendEscaped(std::string& out, char byte, bool escapeControl) {
    if (static_cast<unsigned char>(byte) == 0x7F && escapeControl) {
        out += {kDle, kRub0};
    } else if (static_cast<unsigned char>(byte) == 0xFF && escapeControl) {
        out += {kDle, kRub1};
    } else if (NeedsEscape(byte, escapeControl)) {
        out += {kDle, static_cast<char>(byte ^ 0x40)};
    } else {
        out += byte;
    }
}

std::string RawHeader(const ZmodemHeader& header) {
    std::string raw(1, static_cast<char>(header.type));
    for (const std::uint8_t byte : header.bytes) {
        raw.push_back(static_cast<char>(byte));
    }
    return raw;
}

// The check after `checked`: CRC-32 low byte first, CRC-16 high byte first.
std::string Check(std::string_view checked, bool crc32) {
    std::string check;
    if (crc32) {
        const std::uint32_t crc = Crc32::Of(checked);
        for (int i = 0; i < 4; ++i) {
            check.push_back(static_cast<char>(crc >> (8 * i)));
        }
    } else {
        const std::uint16_t crc = Crc16Xmodem(checked);
        check.push_back(static_cast<char>(crc >> 8));
        check.push_back(static_cast<char>(crc & 0xFF));
    }
    return check;
}

}  // namespace

ZmodemHeader ZmodemHeader::At(FrameType type, std::uint32_t position) {
    ZmodemHeader header;
    header.type = type;
    for (std::size_t i = 0; i < 4; ++i) {
        header.bytes[i] = static_cast<std::uint8_t>(position >> (8 * i));
    }
    return header;
}

ZmodemHeader ZmodemHeader::WithFlags(FrameType type, std::uint8_t zf0, std::uint8_t zf1) {
    ZmodemHeader header;
    header.type = type;
    header.bytes[3] = zf0;
    header.bytes[2] = zf1;
    return header;
}

ZmodemHeader ZmodemReadyHeader() {
    using namespace zmodem;
    return ZmodemHeader::WithFlags(FrameType::kRInit, kCanFullDuplex | kCanOverlapIo | kCanCrc32);
}

std::string EncodeHexHeader(const ZmodemHeader& header) {
    std::string raw = RawHeader(header);
    raw += Check(raw, false);
    std::string text{kPad, kPad, kDle, kHex};
    for (const char byte : raw) {
        text.push_back(kHexDigits[static_cast<unsigned char>(byte) >> 4]);
        text.push_back(kHexDigits[static_cast<unsigned char>(byte) & 0xF]);
    }
    text += "\r\x8A";
    if (header.type != FrameType::kAck && header.type != FrameType::kFin) {
        text.push_back(kXon);
    }
    return text;
}

std::string EncodeBinaryHeader(const ZmodemHeader& header, bool crc32, bool escapeControl) {
    const std::string raw = RawHeader(header);
    std::string frame{kPad, kDle, crc32 ? kBin32 : kBin16};
    for (const char byte : raw + Check(raw, crc32)) {
        AppendEscaped(frame, byte, escapeControl);
    }
    return frame;
}

std::string EncodeSubpacket(std::string_view data, char end, bool crc32, bool escapeControl) {
    std::string frame;
    frame.reserve(data.size() + data.size() / 8 + 8);
    for (const char byte : data) {
        AppendEscaped(frame, byte, escapeControl);
    }
    frame += {kDle, end};
    std::string checked(data);
    checked.push_back(end);
    for (const char byte : Check(checked, crc32)) {
        AppendEscaped(frame, byte, escapeControl);
    }
    return frame;
}

}  // namespace vorlund
