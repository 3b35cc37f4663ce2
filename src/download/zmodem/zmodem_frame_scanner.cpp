#include "download/zmodem/zmodem_frame_scanner.h"

#include <utility>

#include "common/crc32.h"
#include "download/blocks/crc16_xmodem.h"

namespace vorlund {
namespace {

using namespace zmodem;

// Type, four bytes, and the check: CRC-16 in two bytes, CRC-32 in four.
constexpr std::size_t kHeaderBytes = 5;

int HexValue(char c) {
    c = static_cast<char>(c & 0x7F);  // parity is ignored in hex headers
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Frames whose header a data subpacket follows.
bool CarriesData(FrameType type) {
    return type == FrameType::kSInit || type == FrameType::kFile || type == FrameType::kData ||
           type == FrameType::kCommand || type == FrameType::kStdErr;
}

bool IsFlowControl(char byte) {
    const char plain = static_cast<char>(byte & 0x7F);
    return plain == kXon || plain == kXoff;
}

std::uint32_t LittleEndian(std::string_view bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = bytes.size(); i > 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[i - 1]);
    }
    return value;
}

std::uint16_t BigEndian16(std::string_view bytes) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) << 8 |
                                      static_cast<unsigned char>(bytes[1]));
}

ZmodemHeader ReadHeader(std::string_view bytes) {
    ZmodemHeader header;
    header.type = static_cast<FrameType>(static_cast<unsigned char>(bytes[0]));
    for (std::size_t i = 0; i < 4; ++i) {
        header.bytes[i] = static_cast<std::uint8_t>(bytes[i + 1]);
    }
    return header;
}

}  // namespace

std::optional<ZmodemFrameScanner::Event> ZmodemFrameScanner::Next() {
    while (at_ < pending_.size()) {
        const char byte = pending_[at_++];
        if (std::optional<Event> event = Step(byte)) {
            return event;
        }
    }
    pending_.clear();
    at_ = 0;
    return std::nullopt;
}

void ZmodemFrameScanner::Clear() {
    pending_.clear();
    pending_.shrink_to_fit();
    at_ = 0;
    cans_ = 0;
    skipData_ = false;
    Hunt();
    std::string().swap(field_);
}

std::optional<ZmodemFrameScanner::Event> ZmodemFrameScanner::GiveUpFrame() {
    const bool inData = state_ == State::kData || state_ == State::kDataCrc ||
                        state_ == State::kHexTrailer;
    const bool inHeader = state_ == State::kHexHeader || state_ == State::kBinHeader;
    skipData_ = false;
    Hunt();
    if (inData) {
        return Event{Event::Kind::kBadData, {}, {}, 0};
    }
    if (inHeader) {
        return Event{Event::Kind::kBadHeader, {}, {}, 0};
    }
    return std::nullopt;
}

void ZmodemFrameScanner::Hunt() {
    state_ = State::kHunt;
    escaped_ = false;
    field_.clear();
    crc_.clear();
}

std::optional<ZmodemFrameScanner::Event> ZmodemFrameScanner::Step(char byte) {
    cans_ = byte == kDle ? cans_ + 1 : 0;
    if (cans_ == 5) {
        // What a sender says when it gives up, wherever it falls.
        cans_ = 0;
        skipData_ = false;
        Hunt();
        return Event{Event::Kind::kAbort, {}, {}, 0};
    }
    char decoded = 0;
    switch (state_) {
        case State::kHunt:
            if (byte == kPad) {
                state_ = State::kPad;
            }
            return std::nullopt;
        case State::kPad:
            if (byte == kDle) {
                state_ = State::kPadDle;
            } else if (byte != kPad) {
                Hunt();
            }
            return std::nullopt;
        case State::kPadDle:
            if (byte == kHex || byte == kBin16 || byte == kBin32) {
                state_ = byte == kHex ? State::kHexHeader : State::kBinHeader;
                crc32_ = byte == kBin32;
                field_.clear();
            } else {
                Hunt();
                if (byte == kPad) {
                    state_ = State::kPad;
                }
            }
            return std::nullopt;
        case State::kHexHeader: {
            const int value = HexValue(byte);
            if (value < 0) {
                // Given up, and the byte looked at again: it may begin the
                // next header.
                --at_;
                cans_ = 0;
                return Fail(Event::Kind::kBadHeader);
            }
            field_.push_back(static_cast<char>(value));
            if (field_.size() < 2 * (kHeaderBytes + 2)) {
                return std::nullopt;
            }
            std::string raw;
            for (std::size_t i = 0; i < field_.size(); i += 2) {
                raw.push_back(static_cast<char>(field_[i] << 4 | field_[i + 1]));
            }
            field_ = std::move(raw);
            return HeaderComplete();
        }
        case State::kHexTrailer:
            // CR LF, or a lone LF, then the data.
            if ((byte & 0x7F) == '\r' && !sawCr_) {
                sawCr_ = true;
                return std::nullopt;
            }
            state_ = State::kData;
            if ((byte & 0x7F) == '\n') {
                return std::nullopt;
            }
            break;  // the data has begun
        case State::kBinHeader:
            switch (Decode(byte, decoded)) {
                case Decoded::kNothing:
                    return std::nullopt;
                case Decoded::kEnd:
                case Decoded::kBad:
                    return Fail(Event::Kind::kBadHeader);
                case Decoded::kByte:
                    field_.push_back(decoded);
                    if (field_.size() == kHeaderBytes + (crc32_ ? 4 : 2)) {
                        return HeaderComplete();
                    }
                    return std::nullopt;
            }
            return std::nullopt;
        case State::kData:
        case State::kDataCrc:
            break;
    }
    switch (Decode(byte, decoded)) {
        case Decoded::kNothing:
            return std::nullopt;
        case Decoded::kBad:
            return Fail(Event::Kind::kBadData);
        case Decoded::kEnd:
            if (state_ == State::kDataCrc) {
                return Fail(Event::Kind::kBadData);
            }
            end_ = decoded;
            state_ = State::kDataCrc;
            return std::nullopt;
        case Decoded::kByte:
            if (state_ == State::kDataCrc) {
                crc_.push_back(decoded);
                return crc_.size() == (crc32_ ? 4U : 2U) ? DataComplete() : std::nullopt;
            }
            if (field_.size() == zmodem::kLongestSubpacket) {
                // No sender sends more: whatever this is, it is not kept.
                return Fail(Event::Kind::kBadData);
            }
            field_.push_back(decoded);
            return std::nullopt;
    }
    return std::nullopt;
}

ZmodemFrameScanner::Decoded ZmodemFrameScanner::Decode(char byte, char& out) {
    if (!escaped_) {
        if (byte == kDle) {
            escaped_ = true;
            return Decoded::kNothing;
        }
        if (IsFlowControl(byte)) {
            return Decoded::kNothing;  // flow control, which the sender escapes when it means it
        }
        out = byte;
        return Decoded::kByte;
    }
    if (byte == kDle) {
        return Decoded::kNothing;  // a run of CAN, counted towards an abort
    }
    if (IsFlowControl(byte)) {
        return Decoded::kNothing;
    }
    escaped_ = false;
    switch (byte) {
        case kCrcEnd:
        case kCrcGo:
        case kCrcQuestion:
        case kCrcWait:
            out = byte;
            return Decoded::kEnd;
        case kRub0:
            out = 0x7F;
            return Decoded::kByte;
        case kRub1:
            out = static_cast<char>(0xFF);
            return Decoded::kByte;
        default:
            if ((byte & 0x60) != 0x40) {
                return Decoded::kBad;
            }
            out = static_cast<char>(byte ^ 0x40);
            return Decoded::kByte;
    }
}

std::optional<ZmodemFrameScanner::Event> ZmodemFrameScanner::HeaderComplete() {
    const std::string_view bytes(field_);
    const std::string_view content = bytes.substr(0, kHeaderBytes);
    const bool holds = crc32_ ? Crc32::Of(content) == LittleEndian(bytes.substr(kHeaderBytes, 4))
                              : Crc16Xmodem(content) == BigEndian16(bytes.substr(kHeaderBytes, 2));
    if (!holds) {
        return Fail(Event::Kind::kBadHeader);
    }
    Event event{Event::Kind::kHeader, ReadHeader(content), {}, 0};
    const bool hex = state_ == State::kHexHeader;
    Hunt();
    skipData_ = false;
    if (CarriesData(event.header.type)) {
        state_ = hex ? State::kHexTrailer : State::kData;
        sawCr_ = false;
    }
    return event;
}

std::optional<ZmodemFrameScanner::Event> ZmodemFrameScanner::DataComplete() {
    std::string checked = field_;
    checked.push_back(end_);
    const bool holds = crc32_ ? Crc32::Of(checked) == LittleEndian(crc_)
                              : Crc16Xmodem(checked) == BigEndian16(crc_);
    if (!holds) {
        return Fail(Event::Kind::kBadData);
    }
    Event event{Event::Kind::kData, {}, std::move(field_), end_};
    field_.clear();
    crc_.clear();
    escaped_ = false;
    state_ = State::kData;
    if (end_ == kCrcEnd || end_ == kCrcWait) {
        Hunt();
    }
    if (skipData_) {
        return std::nullopt;
    }
    return event;
}

std::optional<ZmodemFrameScanner::Event> ZmodemFrameScanner::Fail(Event::Kind kind) {
    Hunt();
    if (kind == Event::Kind::kBadData && skipData_) {
        return std::nullopt;
    }
    return Event{kind, {}, {}, 0};
}

}  // namespace vorlund
