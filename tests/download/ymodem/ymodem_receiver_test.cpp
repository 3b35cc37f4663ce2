#include "download/ymodem/ymodem_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "download/blocks/block_frames.h"

namespace vorlund {
namespace {

using Kind = YmodemReceiver::Outcome::Kind;
using std::chrono::milliseconds;
using testing::Block;
using testing::Header;
using namespace std::string_view_literals;
using namespace std::chrono_literals;
constexpr milliseconds kQuiet = YmodemReceiver::kByteTimeout;

const std::string kAck = "\x06";
const std::string kNak = "\x15";
const std::string kEot = "\x04";
const std::string kAckAndAskForData =
    "\x06"
    "C";
const std::string kCancel(8, '\x18');

std::string FromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::string Zeros(std::size_t n) {
    return std::string(n, '\0');
}

// A session of lrzsz's `sz --ymodem` sending a 150-byte file, recorded on a
// pseudo-terminal: the header, two 128-byte blocks, then the empty header that
// ends the batch. The sender leaves stray bytes in the unused tail of its
// headers.
const std::string kRecordedHeader = FromHex(
    "0100ff7265632e62696e00313530203133363033323536363435203130303634342030203120313530000000"
    "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000218"
    "02");
const std::string kRecordedBlock1 = FromHex(
    "0101fe030a11181f262d343b424950575e656c737a81888f969da4abb2b9c0c7ced5dce3eaf1f8ff060d141b"
    "222930373e454c535a61686f767d848b9299a0a7aeb5bcc3cad1d8dfe6edf4fb020910171e252c333a41484f"
    "565d646b727980878e959ca3aab1b8bfc6cdd4dbe2e9f0f7fe050c131a21282f363d444b525960676e757c2e"
    "e4");
const std::string kRecordedBlock2 = FromHex(
    "0102fd838a91989fa6adb4bbc2c9d0d7dee5ecf3fa01080f161a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a"
    "1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a"
    "1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1ab5"
    "97");
const std::string kRecordedEndOfBatch = FromHex(
    "0100ff0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "0000000000000000000000000000000000000000000000000000000000000000000000000000000000c6cbd4"
    "d5");

std::string RecordedFileContent() {
    std::string content;
    for (int i = 0; i < 150; ++i) {
        content.push_back(static_cast<char>((i * 7 + 3) % 256));
    }
    return content;
}

// Keeps what the receiver stores, as the hand-off would, or refuses it at
// its end.
class CollectingSink final : public YmodemReceiver::FileSink {
  public:
    Status Begin(const FileOffer& header, bool continuesBatch) override {
        name_ = header.name;
        data_.clear();
        continued.push_back(continuesBatch);
        return {};
    }
    Status Write(std::string_view bytes) override {
        data_ += bytes;
        return {};
    }
    Result<Kept> End() override {
        files.emplace_back(name_, data_);
        if (!keeps) {
            return Failure{"refused"};
        }
        return Kept::kStored;
    }
    void Discard() override { data_.clear(); }
    void BatchEnded(bool) override { ++batchesEnded; }
    // The latest file stored.
    std::string Last() const { return files.empty() ? "(none)" : files.back().second; }

    bool keeps = true;
    // Every file that reached its end, kept or not.
    std::vector<std::pair<std::string, std::string>> files;
    // For each transfer begun, whether it continued the batch before.
    std::vector<bool> continued;
    int batchesEnded = 0;

  private:
    std::string name_;
    std::string data_;
};

// A header as a sender that fell back to the original protocol sends it:
// 128 bytes and a one-byte sum instead of the CRC.
std::string ChecksumHeader(std::string_view nameAndFields) {
    std::string payload(nameAndFields);
    payload.resize(128, '\0');
    unsigned sum = 0;
    for (char byte : payload) {
        sum += static_cast<unsigned char>(byte);
    }
    return std::string("\x01\x00\xFF", 3) + payload + static_cast<char>(sum & 0xFF);
}

class YmodemReceiverTest : public ::testing::Test {
  protected:
    YmodemReceiverTest()
        : receiver_(now_, sink_) {
        EXPECT_EQ(receiver_.TakeOutput(), "C");
    }

    // Feeds bytes and returns the receiver's answer to them.
    std::string Feed(std::string_view bytes) {
        receiver_.Receive(bytes, now_);
        return receiver_.TakeOutput();
    }
    std::string AdvanceTo(milliseconds at) {
        now_ = at;
        receiver_.Tick(now_);
        return receiver_.TakeOutput();
    }
    std::string Advance(milliseconds by) { return AdvanceTo(now_ + by); }

    // Feeds bytes and, when the answer waits for the line to go quiet, lets
    // it go quiet; returns the answer.
    std::string FeedAndSettle(std::string_view bytes) {
        std::string answer = Feed(bytes);
        return answer.empty() ? Advance(YmodemReceiver::kByteTimeout) : answer;
    }

    // Header "X.DAT" with `size`, acknowledged.
    void StartFile(std::string_view fields) {
        ASSERT_EQ(Feed(Header(fields)), kAckAndAskForData);
        ASSERT_TRUE(receiver_.TransferInProgress());
    }
    // Ends the file as the sender does: EOT, and EOT again after a NAK.
    // Returns the last answer.
    std::string FinishFile() {
        const std::string answer = FeedAndSettle(kEot);
        return answer == kNak ? FeedAndSettle(kEot) : answer;
    }
    YmodemReceiver::Outcome TakeOutcome() {
        auto outcome = receiver_.TakeOutcome();
        EXPECT_TRUE(outcome.has_value());
        EXPECT_FALSE(receiver_.TakeOutcome().has_value()) << "more than one outcome";
        return outcome.value_or(YmodemReceiver::Outcome{Kind::kProtocolError, {}, 0, false, {}, {}, {}});
    }
    // The one outcome is a file received: the bytes stored.
    std::string TakeFile() {
        const auto outcome = TakeOutcome();
        EXPECT_EQ(outcome.kind, Kind::kFileReceived);
        EXPECT_EQ(outcome.bytes, sink_.Last().size());
        return sink_.Last();
    }

    milliseconds now_{5000};
    CollectingSink sink_;
    YmodemReceiver receiver_;
};

TEST_F(YmodemReceiverTest, ReceivesTheRecordedSessionAndEndsTheBatch) {
    EXPECT_EQ(Feed(kRecordedHeader), kAckAndAskForData);
    EXPECT_EQ(Feed(kRecordedBlock1), kAck);
    EXPECT_EQ(Feed(kRecordedBlock2), kAck);
    EXPECT_FALSE(receiver_.TakeOutcome().has_value());
    // Every announced byte is in: the end is taken at once.
    EXPECT_EQ(Feed(kEot), kAckAndAskForData);

    const auto outcome = TakeOutcome();
    EXPECT_EQ(outcome.kind, Kind::kFileReceived);
    EXPECT_EQ(outcome.name, "rec.bin");
    EXPECT_EQ(outcome.size, 150u);
    EXPECT_EQ(outcome.modified, "13603256645");
    EXPECT_EQ(outcome.bytes, 150u);
    EXPECT_FALSE(receiver_.TransferInProgress());
    ASSERT_EQ(sink_.files.size(), 1u);
    EXPECT_EQ(sink_.files[0].first, "rec.bin");
    EXPECT_EQ(sink_.files[0].second, RecordedFileContent());

    EXPECT_EQ(Feed(kRecordedEndOfBatch), kAck);
    EXPECT_EQ(sink_.batchesEnded, 1);
    EXPECT_FALSE(receiver_.NextDeadline().has_value());
    EXPECT_EQ(Advance(milliseconds(60000)), "");
}

TEST_F(YmodemReceiverTest, BytesSplitAcrossReadsMakeNoDifference) {
    const std::string session = kRecordedHeader + kRecordedBlock1 + kRecordedBlock2;
    std::string answers;
    for (char byte : session) {
        answers += Feed(std::string_view(&byte, 1));
    }
    EXPECT_EQ(answers, kAckAndAskForData + kAck + kAck);
    FinishFile();
    EXPECT_EQ(TakeFile(), RecordedFileContent());
}

TEST_F(YmodemReceiverTest, MixedBlockSizesAreTrimmedToTheAnnouncedSize) {
    const std::string big(1024, 'a');
    StartFile(
        "X.DAT\0"
        "1030 14000000000 100644"sv);
    EXPECT_EQ(Feed(Block(1, big, 1024)), kAck);
    EXPECT_EQ(Feed(Block(2, "\x1A\x1A\x1A\x1A\x1A\x1A")), kAck);
    EXPECT_EQ(FinishFile(), kAckAndAskForData);
    // Content that looks like padding is kept up to the announced size.
    EXPECT_EQ(TakeFile(), big + std::string(6, '\x1A'));

    // Whatever pads the last block past the size (0xFF, or what was left in
    // the sender's buffer), the file ends where its size says.
    receiver_.TakeNextFile(now_);
    StartFile(
        "P.DAT\0"
        "130"sv);
    EXPECT_EQ(Feed(Block(1, std::string(128, 'a'))), kAck);
    EXPECT_EQ(Feed(Block(2, "bbstale bytes", 128, '\xFF')), kAck);
    EXPECT_EQ(FinishFile(), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), std::string(128, 'a') + "bb");

    // A file that grew while it was sent, by more than its last block: the
    // sender and we agree that it has not arrived, so its terminal sends it
    // again, whole.
    CollectingSink sink;
    YmodemReceiver grown(now_, sink);
    grown.Receive(Header("G.DAT\0"
                         "130"sv) +
                      Block(1, std::string(128, 'a')),
                  now_);
    grown.Receive(Block(2, std::string(128, 'b')), now_ + 10ms);
    grown.Receive(Block(3, "cccc"), now_ + 20ms);
    EXPECT_EQ(grown.TakeOutput(), "C" + kAckAndAskForData + kAck + kAck + kCancel);
    EXPECT_EQ(grown.TakeOutcome()->kind, Kind::kLongerThanAnnounced);
    EXPECT_TRUE(sink.files.empty());
}

// Without a size the padding of the last block is all that can be told
// from content, so a file of nothing but padding is an empty delivery; with
// a size, padding bytes inside it are its content. Either way it is a
// delivery, converted like any other (to an export with no records).
TEST_F(YmodemReceiverTest, WithoutASizeOnlyTheLastBlocksPaddingIsRemoved) {
    const std::string first = std::string(127, 'b') + '\x1A';
    StartFile("X.DAT");
    EXPECT_EQ(Feed(Block(1, first)), kAck);
    EXPECT_EQ(Feed(Block(2, "")), kAck);  // nothing but padding
    EXPECT_EQ(FinishFile(), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), first);

    struct Case {
        std::string header, content, stored;
    };
    const std::string padding(300, '\x1A');
    for (const Case& c : {Case{Header("Y.DAT"), "ab\r\n", "ab\r\n"},
                          Case{Header("PAD"), std::string(128, '\x1A'), ""},
                          Case{Header("PAD\0"
                                      "300"sv),
                               padding, padding}}) {
        CollectingSink sink;
        YmodemReceiver receiver(now_, sink);
        receiver.Receive(c.header, now_);
        for (std::size_t at = 0, block = 1; at < c.content.size(); at += 128, ++block) {
            receiver.Receive(Block(static_cast<std::uint8_t>(block), c.content.substr(at, 128)),
                             now_);
        }
        // A sender without a size ends twice, waiting for our answer each time.
        receiver.Receive(kEot, now_);
        receiver.Tick(now_ + YmodemReceiver::kByteTimeout);
        receiver.Receive(kEot, now_ + YmodemReceiver::kByteTimeout);
        receiver.Tick(now_ + 2 * YmodemReceiver::kByteTimeout);
        const auto outcome = receiver.TakeOutcome();
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->kind, Kind::kFileReceived);
        EXPECT_EQ(sink.Last(), c.stored);
    }
}

TEST_F(YmodemReceiverTest, AnEmptyFileIsAFile) {
    StartFile(
        "EMPTY\0"
        "0"sv);
    EXPECT_EQ(FinishFile(), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), "");
}

TEST_F(YmodemReceiverTest, ABadCrcIsRefusedAndTheRepeatTaken) {
    std::string damaged = kRecordedBlock1;
    damaged[40] ^= 0x10;
    EXPECT_EQ(Feed(kRecordedHeader), kAckAndAskForData);
    // Asked for again once the line is quiet, so no rest of it is answered.
    EXPECT_EQ(Feed(damaged), "");
    EXPECT_EQ(Advance(YmodemReceiver::kByteTimeout), kNak);
    EXPECT_EQ(FeedAndSettle(kRecordedBlock1), kAck);
    EXPECT_EQ(Feed(kRecordedBlock2), kAck);
    FinishFile();
    EXPECT_EQ(TakeFile(), RecordedFileContent());

    // A damaged header is asked for again as well, before any transfer
    // starts, with 'C': a NAK would turn a sender still waiting to start to
    // the checksum.
    CollectingSink sink;
    YmodemReceiver other(now_, sink);
    other.TakeOutput();
    std::string header = kRecordedHeader;
    header[131] ^= 0x01;
    other.Receive(header, now_);
    EXPECT_EQ(other.TakeOutput(), "");
    other.Tick(now_ + YmodemReceiver::kByteTimeout);
    EXPECT_EQ(other.TakeOutput(), "C");
    EXPECT_FALSE(other.TransferInProgress());
}

TEST_F(YmodemReceiverTest, ARepeatedBlockIsAcknowledgedAndDropped) {
    EXPECT_EQ(Feed(kRecordedHeader), kAckAndAskForData);
    // Our first answer was lost; the sender repeats after its timeout.
    EXPECT_EQ(Advance(milliseconds(10000)), "C");
    EXPECT_EQ(Feed(kRecordedHeader), kAckAndAskForData);
    EXPECT_EQ(FeedAndSettle(kRecordedBlock1), kAck);
    // A copy of a block that is in is acknowledged once the line is quiet:
    // were it a late copy, the sender's next block would come first.
    EXPECT_EQ(Feed(kRecordedBlock1), "");
    EXPECT_EQ(Advance(YmodemReceiver::kByteTimeout), kAck);
    EXPECT_EQ(FeedAndSettle(kRecordedBlock2), kAck);
    EXPECT_EQ(FeedAndSettle(kRecordedBlock2), kAck);
    FinishFile();
    EXPECT_EQ(TakeFile(), RecordedFileContent());
}

// A sender that finds several of our idle 'C's waiting when it starts sends
// its header once per 'C'. Were each copy answered, it would take those
// answers for its next blocks and end the file before we have it.
TEST_F(YmodemReceiverTest, ABurstOfHeaderCopiesIsAnsweredOnce) {
    EXPECT_EQ(Feed(kRecordedHeader + kRecordedHeader + kRecordedHeader), kAckAndAskForData);
    now_ += milliseconds(5);
    EXPECT_EQ(Feed(kRecordedHeader), "");
    EXPECT_EQ(Feed(kRecordedBlock1), kAck);
    EXPECT_EQ(Feed(kRecordedBlock2), kAck);
    FinishFile();
    EXPECT_EQ(TakeFile(), RecordedFileContent());
}

TEST_F(YmodemReceiverTest, BlocksOutOfSequenceCancelTheTransfer) {
    for (const std::string& wrong : {Block(3, "skips a block"), Block(0, "back to the header")}) {
        const std::string which = ::testing::PrintToString(wrong.substr(0, 3));
        CollectingSink sink;
        YmodemReceiver receiver(now_, sink);
        receiver.Receive(Header("X.DAT\0"
                                "300"sv) +
                             Block(1, "first"),
                         now_);
        receiver.TakeOutput();
        receiver.Receive(wrong, now_);
        EXPECT_EQ(receiver.TakeOutput(), kCancel) << which;
        const auto outcome = receiver.TakeOutcome();
        ASSERT_TRUE(outcome.has_value()) << which;
        EXPECT_EQ(outcome->kind, Kind::kProtocolError) << which;
        EXPECT_EQ(outcome->name, "X.DAT") << which;
        EXPECT_FALSE(receiver.TransferInProgress()) << which;
    }
}

TEST_F(YmodemReceiverTest, AfterACancelTheNextTransferIsTaken) {
    StartFile("X.DAT");
    EXPECT_EQ(Feed(Block(5, "out of sequence")), kCancel);
    EXPECT_EQ(TakeOutcome().kind, Kind::kProtocolError);
    // A block still in flight from the cancelled transfer is cancelled again.
    EXPECT_EQ(Feed(Block(6, "late")), kCancel);
    EXPECT_EQ(Advance(YmodemReceiver::kHeaderRequestInterval), "C");
    StartFile(
        "X.DAT\0"
        "2"sv);
    Feed(Block(1, "ok"));
    FinishFile();
    EXPECT_EQ(TakeFile(), "ok");
}

TEST_F(YmodemReceiverTest, SilenceIsRetriedThenGivenUp) {
    StartFile(
        "X.DAT\0"
        "500"sv);
    // Before the first data block the retry asks for CRC blocks again.
    EXPECT_EQ(Advance(milliseconds(9999)), "");
    EXPECT_EQ(Advance(milliseconds(1)), "C");
    // Our request may have crossed a block on its way: quiet first.
    EXPECT_EQ(Feed(Block(1, "a")), "");
    EXPECT_EQ(Advance(YmodemReceiver::kByteTimeout), kAck);
    std::string answers;
    for (int i = 0; i < YmodemReceiver::kMaxRetries; ++i) {
        ASSERT_EQ(receiver_.NextDeadline(), now_ + YmodemReceiver::kBlockTimeout);
        answers += Advance(YmodemReceiver::kBlockTimeout);
    }
    EXPECT_EQ(answers, std::string(YmodemReceiver::kMaxRetries, '\x15'));
    EXPECT_FALSE(receiver_.TakeOutcome().has_value());
    EXPECT_EQ(Advance(YmodemReceiver::kBlockTimeout), kCancel);
    const auto outcome = TakeOutcome();
    EXPECT_EQ(outcome.kind, Kind::kGivenUp);
    EXPECT_TRUE(sink_.files.empty());
    EXPECT_FALSE(receiver_.TransferInProgress());
}

// A sender that finds a backlog of our requests takes each for a refusal of
// its header, sends it again, gives up and writes its cancel; sz then
// flushes its line, which throws away whatever the line has not carried off,
// usually the cancel. Silence after the header is all that arrives.
TEST_F(YmodemReceiverTest, ASenderSilentSinceItsHeaderIsGivenUpAfterTwoBlockTimeouts) {
    EXPECT_EQ(Feed(kRecordedHeader), kAckAndAskForData);
    now_ += milliseconds(1);
    EXPECT_EQ(Feed(kRecordedHeader), "");
    EXPECT_EQ(Advance(YmodemReceiver::kBlockTimeout), "C");
    EXPECT_FALSE(receiver_.TakeOutcome().has_value());
    EXPECT_EQ(Advance(YmodemReceiver::kBlockTimeout), kCancel);
    EXPECT_EQ(TakeOutcome().kind, Kind::kGivenUp);
}

TEST_F(YmodemReceiverTest, ABlockThatGoesQuietIsDroppedAndAskedFor) {
    StartFile(
        "X.DAT\0"
        "3"sv);
    const std::string block = Block(1, "abc");
    EXPECT_EQ(Feed(block.substr(0, 60)), "");
    EXPECT_EQ(receiver_.NextDeadline(), now_ + YmodemReceiver::kByteTimeout);
    EXPECT_EQ(Advance(YmodemReceiver::kByteTimeout), "C");
    EXPECT_EQ(FeedAndSettle(block), kAck);
    FinishFile();
    EXPECT_EQ(TakeFile(), "abc");
}

TEST_F(YmodemReceiverTest, WhileIdleItAsksEveryFewSecondsAndNeverGivesUp) {
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(receiver_.NextDeadline(), now_ + YmodemReceiver::kHeaderRequestInterval);
        ASSERT_EQ(Advance(milliseconds(2999)), "");
        ASSERT_EQ(Advance(milliseconds(1)), "C");
    }
    EXPECT_FALSE(receiver_.TakeOutcome().has_value());
    // A late tick asks once, not once per missed interval.
    EXPECT_EQ(Advance(milliseconds(20000)), "C");
}

TEST_F(YmodemReceiverTest, TheSenderAbortsWithTwoCans) {
    StartFile(
        "X.DAT\0"
        "1000"sv);
    EXPECT_EQ(Feed(Block(1, "part")), kAck);
    EXPECT_EQ(Feed("\x18\x18\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b\b\b"), "");
    const auto outcome = TakeOutcome();
    EXPECT_EQ(outcome.kind, Kind::kAbortedBySender);
    EXPECT_FALSE(receiver_.TransferInProgress());
}

TEST_F(YmodemReceiverTest, ALoneCanIsNoAbort) {
    // The probe of another protocol that a waiting sender emits.
    EXPECT_EQ(Feed("**\x18"
                   "B00000000000000\r\x8A\x11"),
              "");
    StartFile(
        "X.DAT\0"
        "4"sv);
    EXPECT_EQ(Feed("\x18"), "");
    EXPECT_EQ(FeedAndSettle(Block(1, "data")), kAck);
    EXPECT_TRUE(receiver_.TransferInProgress());
    // Two CAN inside a block are data, not an abort, and so are two CAN in
    // a block that fails its check.
    std::string damaged = Block(2, "\x18\x18");
    damaged[100] ^= 0x01;
    CollectingSink otherSink;
    YmodemReceiver other(now_, otherSink);
    other.Receive(Header("X.DAT\0"
                         "2"sv) +
                      damaged + Block(1, "\x18\x18") + kEot,
                  now_);
    EXPECT_EQ(other.TakeOutcome()->kind, Kind::kFileReceived);
    EXPECT_EQ(otherSink.Last(), "\x18\x18");
}

TEST_F(YmodemReceiverTest, ASenderEndingEarlyIsCancelledNotDelivered) {
    StartFile(
        "X.DAT\0"
        "200"sv);
    Feed(Block(1, std::string(128, 'x')));
    EXPECT_EQ(FinishFile(), kCancel);
    EXPECT_EQ(TakeOutcome().kind, Kind::kShortFile);
}

TEST_F(YmodemReceiverTest, AFileThatCannotBeKeptIsCancelledNotAcknowledged) {
    sink_.keeps = false;
    StartFile(
        "X.DAT\0"
        "3"sv);
    Feed(Block(1, "abc"));
    EXPECT_EQ(FinishFile(), kCancel);
    EXPECT_EQ(TakeOutcome().kind, Kind::kNotStored);
    EXPECT_EQ(sink_.files.size(), 1u);
    // The terminal can send it again.
    sink_.keeps = true;
    Advance(YmodemReceiver::kHeaderRequestInterval);
    StartFile(
        "X.DAT\0"
        "3"sv);
    Feed(Block(1, "abc"));
    EXPECT_EQ(FinishFile(), kAckAndAskForData);
    EXPECT_EQ(TakeOutcome().kind, Kind::kFileReceived);
}

TEST(YmodemReceiverLimitTest, AFileBeyondTheLargestIsRefused) {
    const milliseconds now(0);
    CollectingSink sink;
    YmodemReceiver announced(now, sink, 1000);
    announced.TakeOutput();
    announced.Receive(Header("BIG\0"
                             "1001"sv),
                      now);
    EXPECT_EQ(announced.TakeOutput(), std::string(8, '\x18'));
    EXPECT_EQ(announced.TakeOutcome()->kind, Kind::kTooLarge);

    YmodemReceiver unannounced(now, sink, 256);
    unannounced.Receive(Header("BIG") + Block(1, "a") + Block(2, "b"), now);
    unannounced.TakeOutput();
    EXPECT_TRUE(unannounced.TransferInProgress());
    unannounced.Receive(Block(3, "c"), now);
    EXPECT_EQ(unannounced.TakeOutput(), std::string(8, '\x18'));
    EXPECT_EQ(unannounced.TakeOutcome()->kind, Kind::kTooLarge);

    YmodemReceiver exact(now, sink, 256);
    exact.Receive(Header("EXACT\0"
                         "256"sv) +
                      Block(1, std::string(128, 'x')) + Block(2, std::string(128, 'y')) + kEot +
                      kEot,
                  now);
    EXPECT_EQ(exact.TakeOutcome()->kind, Kind::kFileReceived);
}

TEST_F(YmodemReceiverTest, ALoneEotFollowedByDataIsNoise) {
    StartFile(
        "X.DAT\0"
        "256"sv);
    Feed(Block(1, std::string(128, 'p')));
    // Not answered while it may still prove to be noise ...
    EXPECT_EQ(Feed(kEot), "");
    // ... which the block hard behind it shows it was.
    EXPECT_EQ(FeedAndSettle(Block(2, std::string(128, 'q'))), kAck);
    EXPECT_EQ(FinishFile(), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), std::string(128, 'p') + std::string(128, 'q'));
}

// Block 256 is numbered 0 again. While a transfer runs and 0 is its next
// number, it is data, even when its first copy came damaged and its bytes
// read like a header: taking it for a new sender's header once told a
// sender of 38,400 bytes that 200 of them had arrived.
TEST_F(YmodemReceiverTest, BlockNumbersWrapAfter255) {
    const std::size_t blocks = 300;
    std::string expected;
    StartFile(std::string("X.DAT\0"sv) + std::to_string(blocks * 128));
    for (std::size_t i = 1; i <= blocks; ++i) {
        std::string payload(128, static_cast<char>('A' + i % 26));
        if (i == 256) {
            payload = std::string("Y.DAT\0" "200 14000000000\0"sv);
            payload.resize(128, '\0');
            std::string damaged = Block(0, payload);
            damaged[60] ^= 0x01;
            ASSERT_EQ(FeedAndSettle(damaged), kNak);
        }
        expected += payload;
        ASSERT_EQ(FeedAndSettle(Block(static_cast<std::uint8_t>(i), payload)), kAck) << "block " << i;
    }
    FinishFile();
    EXPECT_EQ(TakeFile(), expected);
}

TEST_F(YmodemReceiverTest, OnceTheFileIsInAFurtherFileWaitsForTheNextSession) {
    StartFile(
        "X.DAT\0"
        "1"sv);
    Feed(Block(1, "1"));
    FinishFile();
    EXPECT_EQ(TakeOutcome().kind, Kind::kFileReceived);
    // The sender missed our acknowledgement of the end and repeats it.
    EXPECT_EQ(Feed(kEot), kAckAndAskForData);
    EXPECT_EQ(Feed(Header("SECOND.DAT\0"
                          "10"sv)),
              "");
    EXPECT_EQ(Feed(Block(1, "stray")), "");
    EXPECT_FALSE(receiver_.TakeOutcome().has_value());
    EXPECT_EQ(Feed(Block(0, Zeros(128), 128, '\0')), kAck);
}

TEST_F(YmodemReceiverTest, CancelTellsTheSenderOnlyWhenATransferRuns) {
    receiver_.Cancel(now_);
    EXPECT_EQ(receiver_.TakeOutput(), "");
    StartFile(
        "X.DAT\0"
        "10"sv);
    Feed(Block(1, "12345").substr(0, 30));
    receiver_.Cancel(now_);
    EXPECT_EQ(receiver_.TakeOutput(), kCancel);
    EXPECT_FALSE(receiver_.TransferInProgress());
    EXPECT_EQ(TakeOutcome().kind, Kind::kStopped);
    // The half block that was arriving is forgotten, not completed by new bytes.
    EXPECT_EQ(Feed(Header("X.DAT\0"
                          "2"sv)),
              kAckAndAskForData);
}

TEST_F(YmodemReceiverTest, TheEndOfBatchWhileIdleIsAcknowledged) {
    EXPECT_EQ(Feed(kRecordedEndOfBatch), kAck);
    EXPECT_FALSE(receiver_.TransferInProgress());
    EXPECT_FALSE(receiver_.TakeOutcome().has_value());
    // Nothing came before it here: it can only end what a restart cut off.
    EXPECT_EQ(sink_.batchesEnded, 1);
}

// The header that answers our acknowledgement of a file's end is that
// sender's next file: a later session that begins with it continues the
// batch. Any other header, or one that came only after we asked again, may
// be another terminal's, docked in the place of one that never heard us.
TEST_F(YmodemReceiverTest, OnlyTheHeaderThatAnsweredTheEndContinuesTheBatch) {
    const auto deliver = [this](std::string_view fields) {
        StartFile(fields);
        Feed(Block(1, "1"));
        FinishFile();
        EXPECT_EQ(TakeOutcome().kind, Kind::kFileReceived);
    };
    deliver("A.DAT\0" "1"sv);
    receiver_.TakeNextFile(now_);
    EXPECT_EQ(Advance(YmodemReceiver::kHeaderRequestInterval), "C");
    deliver("B.DAT\0" "1"sv);
    const std::string next = Header("C.DAT\0" "1"sv);
    EXPECT_EQ(Feed(next), "");
    EXPECT_EQ(sink_.continued, (std::vector<bool>{false, false}));

    const YmodemReceiver::Ending ending = *receiver_.LastEnding();
    for (const auto& [first, continues] :
         {std::pair{next, true}, {Header("OTHER.DAT\0" "1"sv), false}}) {
        CollectingSink sink;
        YmodemReceiver session(now_, sink);
        session.RememberEnding(ending);
        session.Receive(first, now_);
        EXPECT_EQ(sink.continued, std::vector<bool>{continues});
    }
}

// The trace of a line that stalls for 15 s in the middle of a block while
// the sender repeats the block on our requests: the rest of the first copy
// and two whole copies then arrive together. Answered once, the sender stays
// in step, and its next block and its end come as they should.
TEST_F(YmodemReceiverTest, CopiesThatAStalledLineDeliversTogetherAreAnsweredOnce) {
    const std::string a(128, 'a'), b(128, 'b'), c(128, 'c');
    StartFile(
        "X.DAT\0"
        "384"sv);
    EXPECT_EQ(Feed(Block(1, a)), kAck);
    const std::string second = Block(2, b);
    EXPECT_EQ(Feed(second.substr(0, 60)), "");
    EXPECT_EQ(Advance(kQuiet), kNak);
    EXPECT_EQ(Advance(YmodemReceiver::kBlockTimeout), kNak);
    EXPECT_EQ(Feed(second.substr(60) + second + second), "");
    EXPECT_EQ(Advance(kQuiet), kAck);
    EXPECT_EQ(FeedAndSettle(Block(3, c)), kAck);
    EXPECT_EQ(Feed(kEot), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), a + b + c);
}

// A noise byte that the sender takes for a NAK makes it repeat a block
// behind our acknowledgement, and its next block follows hard behind the
// copy: the two are answered once. A lost acknowledgement brings the copy
// only after our request: that copy is answered.
TEST_F(YmodemReceiverTest, ALostOrAnExtraAnswerLeavesTheSenderInStep) {
    const std::string one(128, '1'), two(128, '2'), three(128, '3');
    StartFile(
        "X.DAT\0"
        "384"sv);
    EXPECT_EQ(Feed(Block(1, one)), kAck);
    EXPECT_EQ(Feed(Block(1, one)), "");
    now_ += 5ms;
    EXPECT_EQ(Feed(Block(2, two)), "");
    EXPECT_EQ(Advance(kQuiet), kAck);
    EXPECT_EQ(FeedAndSettle(Block(3, three)), kAck);
    EXPECT_EQ(Advance(YmodemReceiver::kBlockTimeout), kNak);
    EXPECT_EQ(FeedAndSettle(Block(3, three)), kAck);
    EXPECT_EQ(Feed(kEot), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), one + two + three);
}

// A sender that runs one answer ahead sends its last block and its end
// together, and takes our acknowledgement of the block for that of the end.
// With a size the end is taken at once; without one, the sender takes our
// NAK of the end for the request of the next header, and that header shows
// that the end was meant.
TEST_F(YmodemReceiverTest, ASenderAheadByOneAnswerStillDelivers) {
    StartFile(
        "X.DAT\0"
        "256"sv);
    EXPECT_EQ(Feed(Block(1, std::string(128, 'a'))), kAck);
    EXPECT_EQ(Feed(Block(2, std::string(128, 'b')) + kEot), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), std::string(128, 'a') + std::string(128, 'b'));

    CollectingSink unsizedSink;
    YmodemReceiver unsized(now_, unsizedSink);
    unsized.Receive(Header("X.DAT") + Block(1, "ab"), now_);
    unsized.Receive(kEot, now_ + 10ms);
    unsized.Tick(now_ + 10ms + kQuiet);
    EXPECT_EQ(unsized.TakeOutput(), "C" + kAckAndAskForData + kAck + kNak);
    unsized.Receive(Block(0, Zeros(128), 128, '\0'), now_ + 20ms + kQuiet);
    EXPECT_EQ(unsized.TakeOutput(), kAck);
    const auto outcome = unsized.TakeOutcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->kind, Kind::kFileReceived);
    EXPECT_EQ(unsizedSink.Last(), "ab");
}

// Noise in the middle of a file without a size may hold EOT bytes: one with
// bytes hard behind it, or one that follows noise, ends nothing; the block
// is asked for again instead.
TEST_F(YmodemReceiverTest, NoiseThatLooksLikeAnEndEndsNothing) {
    StartFile("X.DAT");
    EXPECT_EQ(Feed(Block(1, "first\r\n")), kAck);
    EXPECT_EQ(Feed("\x04\x04"), "");
    EXPECT_EQ(Feed("\x9F\x04"), "");
    EXPECT_EQ(Advance(kQuiet), kNak);
    EXPECT_FALSE(receiver_.TakeOutcome().has_value());
    EXPECT_EQ(FeedAndSettle(Block(2, "second\r\n")), kAck);
    EXPECT_EQ(FinishFile(), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), "first\r\n" + std::string(121, '\x1A') + "second\r\n");
}

// A flipped bit in a block number's complement is line noise: the block is
// asked for again, not the transfer cancelled.
TEST_F(YmodemReceiverTest, ADamagedBlockNumberIsAskedForAgain) {
    StartFile(
        "X.DAT\0"
        "256"sv);
    EXPECT_EQ(Feed(Block(1, std::string(128, 'a'))), kAck);
    std::string damaged = Block(2, std::string(128, 'b'));
    damaged[2] ^= 0x04;
    EXPECT_EQ(Feed(damaged), "");
    EXPECT_EQ(Advance(kQuiet), kNak);
    EXPECT_TRUE(receiver_.TransferInProgress());
    EXPECT_EQ(FeedAndSettle(Block(2, std::string(128, 'b'))), kAck);
    EXPECT_EQ(Feed(kEot), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), std::string(128, 'a') + std::string(128, 'b'));
}

// Garbage ahead of a block, even garbage that starts like one, costs only
// the wait for quiet; a block whose start byte is corrupted is asked for as
// soon as the line is quiet, not after the full timeout.
TEST_F(YmodemReceiverTest, GarbageIsLeftBehindAsSoonAsTheLineIsQuiet) {
    const std::string a(128, 'a'), b(128, 'b');
    StartFile(
        "X.DAT\0"
        "256"sv);
    EXPECT_EQ(Feed("\x01\x02\xFDgar\x02\x07"
                   "bage" +
                   Block(1, a)),
              "");
    EXPECT_EQ(Advance(kQuiet), kAck);
    std::string corrupted = Block(2, b);
    corrupted[0] = 'A';
    EXPECT_EQ(Feed(corrupted), "");
    EXPECT_EQ(Advance(kQuiet), kNak);
    EXPECT_EQ(FeedAndSettle(Block(2, b)), kAck);
    EXPECT_EQ(Feed(kEot), kAckAndAskForData);
    EXPECT_EQ(TakeFile(), a + b);
}

// A sender that died leaves our requests on the line, and the next sender,
// hearing a NAK first, sends its header with the checksum. That header is
// taken, and it ends the dead transfer, which had gone silent short of its
// size.
TEST_F(YmodemReceiverTest, ANewSenderInChecksumModeReplacesADeadTransfer) {
    StartFile(
        "OLD\0"
        "1000"sv);
    EXPECT_EQ(Feed(Block(1, "old")), kAck);
    EXPECT_EQ(Advance(YmodemReceiver::kBlockTimeout), kNak);
    EXPECT_EQ(Feed(ChecksumHeader("NEW\0"
                                  "3"sv)),
              "");
    EXPECT_EQ(Advance(kQuiet), kAckAndAskForData);
    EXPECT_EQ(TakeOutcome().kind, Kind::kSenderReplaced);
    EXPECT_EQ(Feed(Block(1, "new")), kAck);
    EXPECT_EQ(Feed(kEot), kAckAndAskForData);
    const auto outcome = TakeOutcome();
    EXPECT_EQ(outcome.name, "NEW");
    EXPECT_EQ(sink_.Last(), "new");
}

// The file goes to the sink as it arrives: however large, a transfer holds
// one block, and a failed one nothing at all.
TEST(YmodemReceiverMemoryTest, ATransferHoldsOneBlockAndAFailedOneNothing) {
    CollectingSink sink;
    YmodemReceiver receiver(0ms, sink);
    receiver.Receive(Header("BIG\0"
                            "4000000"sv),
                     0ms);
    for (int i = 1; i <= 1000; ++i) {
        receiver.Receive(Block(static_cast<std::uint8_t>(i), std::string(1024, 'x'), 1024), 0ms);
    }
    EXPECT_LE(receiver.HeldBytes(), 2048u);
    EXPECT_EQ(sink.Last(), "(none)");
    receiver.Receive("\x18\x18", 0ms);
    ASSERT_TRUE(receiver.TakeOutcome().has_value());
    EXPECT_LT(receiver.HeldBytes(), 64u);
}

// Our acknowledgement of the end is lost, and the sender repeats its end
// after the session has restarted: the new session answers it as the
// delivered file's; the sender of a file it cancelled, or one it knows
// nothing of, is told at once that it is off, so it sends the file again.
TEST(YmodemReceiverEndingTest, AnEndRepeatedToTheNextSessionIsAnswered) {
    using Ending = YmodemReceiver::Ending;
    struct Case {
        std::optional<Ending> ending;
        milliseconds eotAt;
        std::string answer;
    };
    const milliseconds late = YmodemReceiver::kEndRepeatWindow + 1ms;
    for (const Case& c : {Case{Ending{true, 0ms, {}}, 2000ms, kAckAndAskForData},
                          Case{Ending{false, 0ms, {}}, 2000ms, kCancel},
                          Case{Ending{true, 0ms, {}}, late, kCancel},
                          Case{std::nullopt, 2000ms, kCancel}}) {
        CollectingSink sink;
        YmodemReceiver receiver(c.eotAt - 1ms, sink);
        receiver.TakeOutput();
        if (c.ending) {
            receiver.RememberEnding(*c.ending);
        }
        receiver.Receive(kEot, c.eotAt);
        EXPECT_EQ(receiver.TakeOutput(), "");
        receiver.Tick(c.eotAt + kQuiet);
        EXPECT_EQ(receiver.TakeOutput(), c.answer) << c.eotAt.count();
    }
}

}  // namespace
}  // namespace vorlund
