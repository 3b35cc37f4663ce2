// The ZMODEM receiver and the recogniser in virtual time, with the sender
// played from frames. Real senders (lrzsz's sz in all its variants) are
// proven by the interoperability test; this covers what no well-behaved
// sender does: damaged and hostile frames, a part that fails its proof, and
// how the first frames choose the protocol.
#include "download/zmodem/zmodem_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "download/blocks/block_frames.h"
#include "download/zmodem/zmodem_frames.h"
#include "download/protocol_recogniser.h"
#include "download/zmodem/zmodem_frame.h"
#include "download/zmodem/zmodem_frame_scanner.h"

namespace vorlund {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using Kind = TransferOutcome::Kind;
using zmodem::FrameType;

constexpr std::uint64_t kLargest = 64 * 1024;

using namespace testing::zmodem_frames;

// Keeps what arrives, and a part of an earlier transfer to offer.
class Sink final : public TransferSink {
  public:
    Status Begin(const FileOffer&, bool) override {
        data.clear();
        return {};
    }
    Status Write(std::string_view bytes) override {
        data += bytes;
        return {};
    }
    Result<Kept> End() override {
        stored = data;
        return Kept::kStored;
    }
    void Discard() override { data.clear(); }
    std::optional<StagedPart> FindStagedPart(const FileOffer&) override {
        if (part.empty()) return std::nullopt;
        return StagedPart{part.size(), Crc32::Of(part)};
    }
    Status Continue(const FileOffer&, bool) override {
        data = part;
        return {};
    }
    void Suspend() override { suspended = data; }
    void BatchEnded(bool) override { ++batchesEnded; }

    std::string data, stored, part, suspended;
    int batchesEnded = 0;
};

class ZmodemReceiverTest : public ::testing::Test {
  protected:
    std::string Feed(const std::string& bytes) {
        receiver.Receive(bytes, now);
        return receiver.TakeOutput();
    }
    std::string Wait(milliseconds by) {
        now += by;
        receiver.Tick(now);
        return receiver.TakeOutput();
    }
    std::vector<Kind> Outcomes() {
        std::vector<Kind> kinds;
        while (auto outcome = receiver.TakeOutcome()) kinds.push_back(outcome->kind);
        return kinds;
    }

    milliseconds now{1000};
    Sink sink;
    ZmodemReceiver receiver{now, sink, kLargest};
};

TEST(ZmodemFrameTest, WhatASenderEncodesIsReadBackByteByByteAndDamageIsTold) {
    for (const bool crc32 : {false, true}) {
        for (const bool escape : {false, true}) {
            std::string content;
            for (int i = 0; i < 600; ++i) content.push_back(static_cast<char>(i * 37));
            const std::string frames =
                EncodeBinaryHeader(ZmodemHeader::At(FrameType::kData, 0x01180011), crc32, escape) +
                EncodeSubpacket(content, zmodem::kCrcGo, crc32, escape) +
                EncodeSubpacket("", zmodem::kCrcEnd, crc32, escape) +
                "\x11" + Hex(FrameType::kEof, 600);
            ZmodemFrameScanner scanner;
            for (const char byte : frames) scanner.Append(std::string_view(&byte, 1));
            std::vector<ZmodemFrameScanner::Event> events;
            while (auto event = scanner.Next()) events.push_back(*event);
            ASSERT_EQ(events.size(), 4u) << crc32 << escape;
            EXPECT_EQ(events[0].header.Position(), 0x01180011u);
            EXPECT_EQ(events[1].data, content);
            EXPECT_EQ(events[2].end, zmodem::kCrcEnd);
            EXPECT_EQ(events[3].header.type, FrameType::kEof);

            // One byte changed in the data, or in a header.
            for (const std::size_t at : {std::size_t{40}, std::size_t{5}}) {
                std::string damaged = frames;
                damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
                ZmodemFrameScanner again;
                again.Append(damaged);
                bool told = false;
                while (auto event = again.Next()) {
                    told = told || event->kind == ZmodemFrameScanner::Event::Kind::kBadData ||
                           event->kind == ZmodemFrameScanner::Event::Kind::kBadHeader;
                }
                EXPECT_TRUE(told) << at;
            }
        }
    }
}

TEST_F(ZmodemReceiverTest, DamagedDataIsAskedForAgainFromTheLastGoodPosition) {
    EXPECT_EQ(Feed("rz\r" + Hex(FrameType::kRqInit)), kReady);
    EXPECT_EQ(Feed(Offer(std::string("X.DAT\0" "8 0", 9))), Hex(FrameType::kRPos, 0));
    std::string damaged = Data("5678");
    damaged[1] = 'x';
    EXPECT_EQ(Feed(Bin(FrameType::kData, 0) + Data("1234") + damaged + Data("more")),
              Hex(FrameType::kRPos, 4));
    // What is still on its way before the sender heard us is passed over.
    EXPECT_EQ(Feed(Data("5678", zmodem::kCrcEnd) + Bin(FrameType::kEof, 12)), "");
    EXPECT_EQ(Feed(Bin(FrameType::kData, 4) + Data("5678", zmodem::kCrcWait)),
              Hex(FrameType::kAck, 8));
    EXPECT_EQ(Feed(Bin(FrameType::kEof, 8)), kReady);
    EXPECT_EQ(sink.stored, "12345678");
    EXPECT_EQ(Feed(Hex(FrameType::kFin)), Hex(FrameType::kFin));
    EXPECT_TRUE(receiver.TakeSessionEnded());
}

// Whatever a hostile or broken sender does ends its transfer with a reason,
// cancelled where the sender hears of it, within a bounded time.
TEST_F(ZmodemReceiverTest, HostileSendersEndTheirTransfer) {
    struct Case {
        const char* what;
        std::string frames;
        Kind kind;
        // What it goes on sending, whatever we ask.
        std::string again = Bin(FrameType::kData, 1) + Data("2");
    };
    const std::string offer = Offer(std::string("X.DAT\0" "4", 7));
    const std::string cancel = "\x18\x18\x18\x18\x18";
    const std::vector<Case> cases = {
        {"data beyond the announced size",
         offer + Bin(FrameType::kData, 0) + Data("12345"), Kind::kLongerThanAnnounced},
        {"an end short of the size", offer + Bin(FrameType::kData, 0) + Data("12", zmodem::kCrcEnd) +
                                         Bin(FrameType::kEof, 2),
         Kind::kShortFile},
        {"a command", Bin(FrameType::kCommand) + Data("!rm -rf /", zmodem::kCrcWait),
         Kind::kRefused},
        {"a file larger than any delivery",
         Offer(std::string("X.DAT\0", 6) + std::to_string(kLargest + 1)), Kind::kTooLarge},
        {"a subpacket longer than any", offer + Bin(FrameType::kData, 0) +
                                             Data(std::string(9000, 'a')),
         Kind::kGivenUp},
        {"positions behind ours, forever", offer + Bin(FrameType::kData, 0) + Data("12") +
                                               Bin(FrameType::kData, 1) + Data("2") +
                                               Bin(FrameType::kEof, 1),
         Kind::kGivenUp},
        {"a header it cannot read, every time", offer, Kind::kGivenUp,
         std::string(20, '\0') + Hex(FrameType::kNak)},
    };
    for (const Case& c : cases) {
        ZmodemReceiver hostile(now, sink, kLargest);
        hostile.Receive(Hex(FrameType::kRqInit) + c.frames, now);
        std::vector<Kind> kinds;
        milliseconds at = now;
        // It goes on as it began, heeding nothing we ask.
        for (int i = 0; i < 40 && (hostile.TransferInProgress() || i == 0); ++i) {
            while (auto outcome = hostile.TakeOutcome()) kinds.push_back(outcome->kind);
            for (int burst = 0; burst < 3; ++burst) hostile.Receive(c.again, at);
            at += ZmodemReceiver::kFrameTimeout;
            hostile.Tick(at);
            ASSERT_TRUE(!hostile.NextDeadline() || *hostile.NextDeadline() > at) << c.what;
        }
        while (auto outcome = hostile.TakeOutcome()) kinds.push_back(outcome->kind);
        EXPECT_FALSE(hostile.TransferInProgress()) << c.what;
        EXPECT_EQ(kinds, std::vector<Kind>{c.kind}) << c.what;
        EXPECT_NE(hostile.TakeOutput().find(cancel), std::string::npos) << c.what;
    }
}

// A file offered with crash recovery continues from the part kept, once the
// sender has proved the part its own; a part that fails the proof goes.
TEST_F(ZmodemReceiverTest, APartKeptIsContinuedOnlyOnceTheSenderProvesIt) {
    const std::string offer = Offer(std::string("X.DAT\0" "8 14000000000", 19), zmodem::kResume);
    for (const bool proven : {true, false}) {
        sink.part = "1234";
        ZmodemReceiver resumed(now, sink, kLargest);
        resumed.Receive(Hex(FrameType::kRqInit) + offer, now);
        EXPECT_EQ(resumed.TakeOutput(), kReady + Hex(FrameType::kCrc, 4)) << proven;
        resumed.Receive(Hex(FrameType::kCrc, Crc32::Of(proven ? "1234" : "12x4")), now);
        EXPECT_EQ(resumed.TakeOutput(), Hex(FrameType::kRPos, proven ? 4 : 0)) << proven;
        resumed.Receive(Bin(FrameType::kData, proven ? 4 : 0) +
                            Data(proven ? "5678" : "12345678", zmodem::kCrcEnd) +
                            Bin(FrameType::kEof, 8),
                        now);
        EXPECT_EQ(sink.stored, "12345678") << proven;
        EXPECT_EQ(resumed.TakeOutcome()->resumedFrom, proven ? 4u : 0u) << proven;
    }
    // A sender that gives no CRC proves nothing, whatever its name, size and
    // modification time say (a terminal without a clock offers another file
    // under the same three): its file is received from the first byte.
    sink.part = "1234";
    receiver.Receive(Hex(FrameType::kRqInit) + offer, now);
    receiver.TakeOutput();
    Wait(ZmodemReceiver::kFrameTimeout);
    EXPECT_EQ(Wait(ZmodemReceiver::kFrameTimeout), Hex(FrameType::kRPos, 0));
}

// The first frames choose the receiver: a ZMODEM request, a YMODEM header,
// an XMODEM first block; another block is a transfer this session does not
// hold, and a lone end is answered from the line's last transfer.
TEST(ProtocolRecogniserTest, TheFirstFramesChooseTheProtocol) {
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<LineProtocol> protocol;
        std::string answer;
    };
    const std::string cancel(8, '\x18');
    const std::vector<Case> cases = {
        {"a ZMODEM request", "rz\r" + Hex(FrameType::kRqInit), LineProtocol::kZmodem, kReady},
        {"a ZMODEM file offer", Offer(std::string("A\0" "1", 3)), LineProtocol::kZmodem, kReady},
        {"a sender that fell back to YMODEM after its request",
         Hex(FrameType::kRqInit) + testing::Header(std::string("A\0" "1", 3)),
         LineProtocol::kYmodem, "\x06" "C"},
        {"a sender that fell back to YMODEM with the checksum after its request",
         Hex(FrameType::kRqInit) + testing::ChecksumBlock(0, std::string("A\0" "1", 3)),
         LineProtocol::kYmodem, kReady + "\x06" "C"},
        {"a YMODEM header", testing::Header(std::string("A\0" "1", 3)), LineProtocol::kYmodem,
         "\x06" "C"},
        {"an XMODEM block 1", testing::Block(1, "data"), LineProtocol::kXmodem, "\x06"},
        {"an XMODEM 1 KB block 1 with the checksum", testing::ChecksumBlock(1, "data", 1024),
         LineProtocol::kXmodem, "\x06"},
        // The invitations go on a second after what we said, and after noise.
        {"a block of a transfer not held", testing::Block(7, "data"), std::nullopt, cancel + "C"},
        {"a lone end after a YMODEM delivery", "\x04", std::nullopt, "\x06" "C"},
        {"a ZMODEM-like run in noise", "**\x18" "Bzz", std::nullopt, "\x15"},
    };
    for (const Case& c : cases) {
        Sink sink;
        milliseconds now{1000};
        ProtocolRecogniser recogniser(now, sink, TransferEnding{true, now, LineProtocol::kYmodem},
                                      kLargest);
        EXPECT_EQ(recogniser.TakeOutput(), "C") << c.what;
        recogniser.Receive(c.bytes, now);
        now += ProtocolRecogniser::kByteTimeout;
        recogniser.Tick(now);
        EXPECT_EQ(recogniser.Protocol(), c.protocol) << c.what;
        EXPECT_EQ(recogniser.TakeOutput(), c.answer) << c.what;
    }
}

// A waiting line is invited every second with 'C' and 200 ms after each
// with NAK, so that a sender waiting for either starts within a second,
// docked at any moment; a line fixed to YMODEM hears only 'C', one fixed
// to ZMODEM its ZRINIT every two seconds. Nothing is said over a frame
// that is arriving.
TEST(ProtocolRecogniserTest, InvitesEverySenderWithinASecond) {
    struct Case {
        ProtocolChoice choice;
        std::vector<std::pair<long long, std::string>> invitations;
    };
    const std::string c = "C", nak = "\x15";
    const std::vector<Case> cases = {
        {ProtocolChoice::kAuto,
         {{0, c}, {200, nak}, {1000, c}, {1200, nak}, {2000, c}, {2200, nak}, {3000, c}}},
        {ProtocolChoice::kYmodem, {{0, c}, {1000, c}, {2000, c}, {3000, c}}},
        {ProtocolChoice::kZmodem, {{0, kReady}, {2000, kReady}}},
    };
    for (const Case& test : cases) {
        Sink sink;
        milliseconds now{0};
        ProtocolRecogniser recogniser(now, sink, TransferEnding{}, kLargest, test.choice);
        std::vector<std::pair<long long, std::string>> invitations;
        for (; now <= 3000ms; now += 100ms) {
            recogniser.Tick(now);
            if (std::string out = recogniser.TakeOutput(); !out.empty()) {
                invitations.emplace_back(now.count(), out);
            }
        }
        EXPECT_EQ(invitations, test.invitations) << static_cast<int>(test.choice);
    }
    // A block arriving in pieces is not talked over.
    Sink sink;
    ProtocolRecogniser recogniser(0ms, sink, TransferEnding{}, kLargest);
    recogniser.TakeOutput();
    const std::string block = testing::Block(1, "data");
    recogniser.Receive(block.substr(0, 60), 150ms);
    recogniser.Tick(900ms);
    EXPECT_EQ(recogniser.TakeOutput(), "");
    recogniser.Receive(block.substr(60), 950ms);
    EXPECT_EQ(recogniser.TakeOutput(), "\x06");
}

// A sender that falls silent in the middle of its file may have been lifted
// out and another docked in its place: within seconds the line is invited
// alongside the silent transfer, and the new sender's first frame ends that
// transfer (a ZMODEM part is kept) and takes the line, whatever the two
// protocols. The silent sender's own resend goes on as before.
TEST(ProtocolRecogniserTest, ANewSenderTakesTheLineFromASilentOne) {
    struct Case {
        const char* what;
        std::string silent, newcomer;
        LineProtocol protocol;
        std::string answer;
        bool replaced = true;
    };
    const std::string ymodem = testing::Header(std::string("A\0" "300", 6)) +
                               testing::Block(1, std::string(128, 'a'));
    const std::string zmodem = Hex(FrameType::kRqInit) + Offer(std::string("A\0" "300", 6)) +
                               Bin(FrameType::kData, 0) + Data("abc");
    const std::vector<Case> cases = {
        {"YMODEM, then XMODEM", ymodem, testing::Block(1, "new"), LineProtocol::kXmodem, "\x06"},
        {"YMODEM, then YMODEM", ymodem, testing::Header(std::string("B\0" "3", 3)),
         LineProtocol::kYmodem, "\x06" "C"},
        {"ZMODEM, then XMODEM with the checksum", zmodem, testing::ChecksumBlock(1, "new"),
         LineProtocol::kXmodem, "\x06"},
        {"ZMODEM, then YMODEM", zmodem, testing::Header(std::string("B\0" "3", 3)),
         LineProtocol::kYmodem, "\x06" "C"},
        {"XMODEM, then ZMODEM", testing::Block(1, "x") + testing::Block(2, "y"),
         "rz\r" + Hex(FrameType::kRqInit), LineProtocol::kZmodem, kReady},
        {"YMODEM, its own block again", ymodem, testing::Block(1, std::string(128, 'a')),
         LineProtocol::kYmodem, "\x06", false},
    };
    for (const Case& c : cases) {
        Sink sink;
        milliseconds now{1000};
        ProtocolRecogniser recogniser(now, sink, TransferEnding{}, kLargest);
        recogniser.Receive(c.silent, now);
        recogniser.TakeOutput();
        std::string said;
        for (const milliseconds docked = now + 5s; now < docked; now += 100ms) {
            recogniser.Tick(now);
            said += recogniser.TakeOutput();
        }
        EXPECT_NE(said.find('C'), std::string::npos) << c.what << ": not invited";
        EXPECT_EQ(said.find('*'), std::string::npos) << c.what << ": no ZMODEM header yet";
        recogniser.Receive(c.newcomer, now);
        said = recogniser.TakeOutput();
        now += 1s;
        recogniser.Tick(now);
        said += recogniser.TakeOutput();
        EXPECT_EQ(recogniser.Protocol(), c.protocol) << c.what;
        EXPECT_EQ(said, c.answer) << c.what;
        bool replaced = false;
        while (auto outcome = recogniser.TakeOutcome()) {
            replaced = replaced || outcome->kind == Kind::kSenderReplaced;
        }
        EXPECT_EQ(replaced, c.replaced) << c.what;
    }
}

}  // namespace
}  // namespace vorlund
