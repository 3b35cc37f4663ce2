// The receiving side of a YMODEM batch, for one file per session. It does no
// I/O and keeps no clock: the owner feeds it the bytes read from the line and
// the current time, writes out what TakeOutput returns, and calls Tick when
// NextDeadline has come. Whatever the line brings, it never throws.
//
// One session takes one file. Once that file is complete the session still
// acknowledges the empty header that ends the batch, so a one-file sender
// finishes at once, but it leaves the header of a further file unanswered:
// the sender repeats that header when the next session asks with 'C', so a
// batch of several files arrives one file per session.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

class YmodemReceiver {
  public:
    // A point on a monotonic clock whose origin the owner chooses.
    using Time = std::chrono::milliseconds;

    // While no transfer runs, 'C' asks for a header this often.
    static constexpr Time kHeaderRequestInterval{3000};
    // Longest wait for the sender's next block (or EOT) during a transfer.
    static constexpr Time kBlockTimeout{10000};
    // Longest silence inside one block before the partial block is dropped.
    static constexpr Time kByteTimeout{1000};
    // Requests repeated for one block before the transfer is given up.
    static constexpr int kMaxRetries = 10;
    // Far beyond any terminal's delivery; a sender that announces or sends
    // more is refused rather than allowed to fill the memory.
    static constexpr std::uint64_t kLargestFile = 64 * 1024 * 1024;

    // Keeps a complete file (name from the header, exact bytes) before the
    // sender is told that it has arrived; false when it could not be kept.
    using FileSink = std::function<bool(std::string_view name, std::string_view data)>;

    struct Outcome {
        enum class Kind {
            kFileReceived,
            kAbortedBySender,  // CAN CAN
            kProtocolError,    // a block out of sequence or a bad header; cancelled
            kGivenUp,          // no usable block after every retry; cancelled
            kShortFile,        // the sender ended before the size it announced; cancelled
            kNotStored,        // complete, but the sink could not keep it; cancelled
            kTooLarge,         // larger than the largest file taken; cancelled
        };
        Kind kind;
        std::string name;  // from the header, when there was one
        std::string data;  // the file's exact bytes, for kFileReceived
    };

    // Starts the session by asking for a header.
    YmodemReceiver(Time now, FileSink sink, std::uint64_t largestFile = kLargestFile);

    void Receive(std::string_view bytes, Time now);
    // Handles whatever has fallen due by `now`; harmless when nothing has.
    void Tick(Time now);
    // When Tick must next be called; none once the session's file is complete.
    std::optional<Time> NextDeadline() const;

    // The bytes to write to the line, in order, since the last call.
    std::string TakeOutput();
    // The transfers that ended since the last call, oldest first.
    std::optional<Outcome> TakeOutcome();

    // Between an accepted header and the acknowledged end of that file.
    bool TransferInProgress() const;
    // Tells the sender that the transfer is off (CAN) and waits for a new one.
    void Cancel(Time now);

  private:
    enum class State {
        kAwaitingHeader,
        kReceiving,   // header acknowledged; data blocks until EOT
        kEotRefused,  // one EOT answered with NAK; the next one is taken
        kComplete,    // the session's file is in; nothing more is accepted
    };

    void HandleByte(char byte, Time now);
    void HandleBlock(Time now);
    void HandleHeader(std::string_view payload, Time now);
    void HandleDataBlock(std::uint8_t number, std::string_view payload, Time now);
    void HandleEot(Time now);
    // Asks for the expected block again, or gives up after kMaxRetries.
    void RequestAgain(char request, Time now);
    char RepeatRequest() const;
    void Finish(Time now);
    void Abandon(Outcome::Kind kind, Time now);
    void AwaitHeader(Time now);
    void Send(char byte) { output_.push_back(byte); }

    FileSink sink_;
    std::uint64_t largestFile_;
    State state_ = State::kAwaitingHeader;
    std::string output_;
    std::deque<Outcome> outcomes_;

    // The block being assembled: start byte, number, complement, payload, CRC.
    std::string block_;
    std::size_t blockSize_ = 0;  // 0 while between blocks
    Time lastByte_{};
    bool previousWasCan_ = false;

    // The file of the transfer in progress.
    std::string name_;
    std::optional<std::uint64_t> announcedSize_;
    std::string data_;
    std::size_t lastBlockStart_ = 0;  // where the latest block's payload begins in data_
    std::uint8_t expectedBlock_ = 1;
    bool dataStarted_ = false;
    Time headerAnswered_{};
    int retries_ = 0;
    Time deadline_{};
};

}  // namespace vorlund
