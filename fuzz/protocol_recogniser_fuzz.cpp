// The recogniser, with the YMODEM, XMODEM and ZMODEM receivers behind it, on
// any line input and any timing. Input: a series of steps. A first byte
// with the high bit set advances the clock by its low six bits times 200 ms
// and ticks; with bits 0x40 set instead, the next byte picks one of the
// frames below with a good check (a ZMODEM sender's headers and data,
// YMODEM and XMODEM blocks), so that the fuzzer reaches deep states; any
// other first byte feeds the next (byte % 64) + 1 bytes. The receivers must
// keep the next deadline in the future after a tick, keep the sink's calls
// in order, deliver no file larger than the limit, and hold no more than a
// block whatever comes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "download/blocks/crc16_xmodem.h"
#include "download/protocol_recogniser.h"
#include "download/zmodem/zmodem_frame.h"

namespace {

using namespace vorlund;
constexpr std::uint64_t kLargest = 4096;

void Expect(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// Checks the order of the calls, refuses now and then as a full disk
// would, and keeps a part for a resume.
class CheckingSink final : public TransferSink {
  public:
    Status Begin(const FileOffer&, bool) override {
        Expect(!open_);
        open_ = true;
        size_ = 0;
        return {};
    }
    Status Write(std::string_view bytes) override {
        Expect(open_);
        size_ += bytes.size();
        return {};
    }
    Result<Kept> End() override {
        Expect(open_ && size_ <= kLargest + 1024);
        open_ = false;
        if (size_ % 7 == 3) {
            return Failure{"refused"};
        }
        return Kept::kStored;
    }
    void Discard() override {
        Expect(open_);
        open_ = false;
    }
    std::optional<StagedPart> FindStagedPart(const FileOffer&) override {
        Expect(!open_);
        return StagedPart{100, 0x12345678};
    }
    Status Continue(const FileOffer&, bool) override {
        Expect(!open_);
        open_ = true;
        size_ = 100;
        return {};
    }
    void Suspend() override { Discard(); }
    void BatchEnded(bool) override { Expect(!open_); }
    std::uint64_t Size() const { return size_; }

  private:
    bool open_ = false;
    std::uint64_t size_ = 0;
};

std::string Block(std::uint8_t number, std::size_t size) {
    std::string payload(size, number == 0 ? '\0' : 'd');
    if (number == 0) {
        payload.replace(0, 12, std::string("X.DAT\0" "300 1", 12));
    }
    std::string block{size == 1024 ? '\x02' : '\x01', static_cast<char>(number),
                      static_cast<char>(0xFF - number)};
    block += payload;
    const std::uint16_t crc = Crc16Xmodem(payload);
    return block + static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF);
}

std::string Frame(std::uint8_t pick, std::uint8_t value) {
    using zmodem::FrameType;
    const bool crc32 = (pick & 0x20) != 0;
    const std::uint32_t position = value * 64U;
    switch (pick % 14) {
        case 0:
            return EncodeHexHeader(ZmodemHeader::At(FrameType::kRqInit, 0));
        case 1:
            return EncodeBinaryHeader(ZmodemHeader::WithFlags(FrameType::kFile, value % 4), crc32) +
                   EncodeSubpacket(std::string("X.DAT\0", 6) + std::to_string(position) + " 1",
                                   zmodem::kCrcWait, crc32);
        case 2:
            return EncodeBinaryHeader(ZmodemHeader::At(FrameType::kData, position), crc32);
        case 3:
            return EncodeSubpacket(std::string(value % 65, 'z'),
                                   "hijk"[value % 4], crc32, (value & 0x80) != 0);
        case 4:
            return EncodeBinaryHeader(ZmodemHeader::At(FrameType::kEof, position), crc32);
        case 5:
            return EncodeHexHeader(ZmodemHeader::At(FrameType::kFin, 0));
        case 6:
            return EncodeHexHeader(ZmodemHeader::At(FrameType::kCrc, 0x12345678U * (value & 1)));
        case 7:
            return EncodeHexHeader(ZmodemHeader::WithFlags(FrameType::kSInit, 0x40)) +
                   EncodeSubpacket(std::string(1, '\0'), zmodem::kCrcWait, false);
        case 8:
            return EncodeBinaryHeader(ZmodemHeader::At(FrameType::kCommand, 0), crc32) +
                   EncodeSubpacket("!rm", zmodem::kCrcWait, crc32);
        case 9:
            return Block(0, 128);
        case 10:
            return Block(static_cast<std::uint8_t>(value % 4), value & 1 ? 1024 : 128);
        case 11:
            return "\x04";
        case 12:
            return EncodeHexHeader(ZmodemHeader::At(static_cast<FrameType>(value % 24), position));
        default:
            return std::string(5, '\x18');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::chrono::milliseconds now(1000);
    CheckingSink sink;
    std::optional<TransferEnding> ending;
    const std::uint8_t first = size > 0 ? data[0] : 0;
    if (first % 3 == 1) {
        // What the session before left: a delivery, or a transfer cut off,
        // whose sender may wait; perhaps its next offer, perhaps our
        // unheard answer to its end of session.
        ending = TransferEnding{(first & 0x08) == 0, now, static_cast<LineProtocol>(first % 3), 300,
                                (first & 0x10) != 0};
        ending->overAwaited = (first & 0x20) != 0;
        if ((first & 0x40) != 0) {
            ending->next = std::string("NEXT.DAT\0" "300 14000000000", 25);
            ending->nextOption = (first & 0x80) != 0 ? zmodem::kResume : 0;
        }
    }
    const auto choice = static_cast<ProtocolChoice>((first >> 2) % 4);
    ProtocolRecogniser receiver(now, sink, ending, kLargest, choice);
    // Not every sender takes a ZNAK: none is ever said.
    const std::string znak = EncodeHexHeader(ZmodemHeader::At(zmodem::FrameType::kNak, 0)).substr(0, 6);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = 0; at < input.size();) {
        const auto step = static_cast<std::uint8_t>(input[at++]);
        if ((step & 0x80) != 0) {
            now += std::chrono::milliseconds((step & 0x3F) * 200);
            receiver.Tick(now);
            const auto deadline = receiver.NextDeadline();
            Expect(!deadline || *deadline > now);  // the owner's loop would spin
        } else if ((step & 0x40) != 0 && at + 1 < input.size()) {
            receiver.Receive(Frame(static_cast<std::uint8_t>(input[at]),
                                   static_cast<std::uint8_t>(input[at + 1])),
                             now);
            at += 2;
        } else {
            const std::size_t length = std::min<std::size_t>(step % 64 + 1, input.size() - at);
            receiver.Receive(input.substr(at, length), now);
            at += length;
        }
        Expect(receiver.HeldBytes() <= 2 * 8192);
        Expect(receiver.TakeOutput().find(znak) == std::string::npos);
        while (const auto outcome = receiver.TakeOutcome()) {
            if (outcome->kind == TransferOutcome::Kind::kFileReceived) {
                Expect(outcome->bytes == sink.Size());
                if (outcome->repeated || (step & 1) != 0) {
                    receiver.TakeNextFile(now);
                }
            }
        }
    }
    receiver.Cancel(now);
    return 0;
}
