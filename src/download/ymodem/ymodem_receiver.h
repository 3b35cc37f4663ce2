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
//
// It stays in step with the sender under noise (AnswerPacing says
// when it answers), and whatever is doubtful fails the transfer where the
// sender hears of it rather than storing anything: the terminal keeps its
// data and sends again.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "download/blocks/answer_pacing.h"
#include "download/blocks/block_scanner.h"
#include "download/file_offer.h"
#include "download/protocol_receiver.h"
#include "download/transfer_outcome.h"
#include "download/transfer_sink.h"

namespace vorlund {

class YmodemReceiver {
  public:
    // A point on a monotonic clock whose origin the owner chooses.
    using Time = std::chrono::milliseconds;

    // While no transfer runs, 'C' asks for a header this often.
    static constexpr Time kHeaderRequestInterval{3000};
    // Longest wait for the sender's next block (or EOT) during a transfer.
    static constexpr Time kBlockTimeout{10000};
    // The line is quiet after this long without a byte: a block that stops
    // arriving is given up, and an answer that waits for quiet goes out.
    static constexpr Time kByteTimeout{1000};
    // Requests repeated for one block before the transfer is given up.
    static constexpr int kMaxRetries = 10;
    // Before the first data block, a sender silent this long since its last
    // byte has given up: one that heard our answer to its header sends its
    // first block at once, and one that missed it sends the header again
    // within a block timeout.
    static constexpr Time kSilentStart{2 * kBlockTimeout};
    // How long after a file was delivered (or cancelled at its end) its
    // sender may still repeat the end of transmission and be answered as
    // that file's sender: it missed our answer and repeats until it hears one.
    static constexpr Time kEndRepeatWindow{60000};

    // Where the file of a transfer goes, as its blocks arrive.
    using FileSink = TransferSink;
    using Outcome = TransferOutcome;
    // How the last transfer on the line ended, for a sender that repeats its
    // end of transmission to the next session.
    using Ending = TransferEnding;

    // Starts the session by asking for a header. The sink must outlive it.
    YmodemReceiver(Time now, FileSink& sink, std::uint64_t largestFile = kLargestTransfer);

    void Receive(std::string_view bytes, Time now);
    // Handles whatever has fallen due by `now`; harmless when nothing has.
    void Tick(Time now);
    // When Tick must next be called; none once the session's file is
    // complete and nothing is left to answer.
    std::optional<Time> NextDeadline() const;

    // The bytes to write to the line, in order, since the last call.
    std::string TakeOutput();
    // The transfers that ended since the last call, oldest first.
    std::optional<Outcome> TakeOutcome();

    // Between an accepted header and the acknowledged end of that file.
    bool TransferInProgress() const;
    // Tells the sender that the transfer is off (CAN) and waits for a new one;
    // the transfer ends as kStopped.
    void Cancel(Time now);
    // Once the session's file is in: the session takes the next file too.
    // The 'C' that followed our acknowledgement has already asked for it.
    void TakeNextFile(Time now);

    std::optional<Ending> LastEnding() const { return lastEnding_; }
    // The previous session on the same line ended this way.
    void RememberEnding(Ending ending) { lastEnding_ = ending; }

    // The memory held for the file in progress: its latest block at most.
    std::size_t HeldBytes() const { return tail_.capacity(); }

    // See ProtocolReceiver: a silent sender, a block of its own, a new
    // sender in its place.
    std::optional<Time> SilentFrom() const;
    bool ClaimsBlock(std::uint8_t number, std::string_view payload) const;
    void GiveWay(Time now);

  private:
    enum class State {
        kAwaitingHeader,
        kReceiving,   // header acknowledged; data blocks until EOT
        kEotRefused,  // one EOT answered with NAK; the next one is taken
        kComplete,    // the session's file is in; nothing more is accepted
    };
    using Reply = AnswerPacing::Reply;

    void Process(Time now, bool quiet);
    void Handle(BlockScanner::Event event, bool more, Time now);
    void HandleBlockZero(std::string_view payload, bool more, Time now);
    void HandleDataBlock(std::uint8_t number, std::string_view payload, bool more, Time now);
    void HandleEot(bool more, Time now);
    void HandleNoise(bool damagedBlock, Time now);
    // Takes a header: the transfer starts, or the header is refused.
    void StartTransfer(std::string_view payload, Time now);
    // A header, or the end of the batch, after a delivered file.
    void NoteContinuation(std::string_view payload);
    void EndBatch();
    void EndOfTransmission(Time now);

    // Answers at once when that is safe, or once the line is quiet.
    void Answer(Reply reply, bool more, Time now);
    void SendReply(Reply reply, Time now, bool settled);
    // Asks for the expected block again, or gives up after kMaxRetries.
    void RequestAgain(Time now, bool afterDamagedBlock);

    // Stores the complete file and, when `answer`, acknowledges its end.
    bool Deliver(Time now, bool answer);
    void Abandon(Outcome::Kind kind, Time now, std::string reason = {});
    void AwaitHeader(Time now);
    void ReleaseFile();
    bool DataComplete() const;
    bool IsDataBlockZero(std::string_view payload) const;
    std::uint8_t ExpectedNumber() const;
    void Send(char byte) { output_.push_back(byte); }
    void SendCancel();

    FileSink& sink_;
    std::uint64_t largestFile_;
    State state_ = State::kAwaitingHeader;
    std::string output_;
    std::deque<Outcome> outcomes_;
    BlockScanner scanner_;
    Time lastByte_{};

    AnswerPacing pacing_{kByteTimeout, kBlockTimeout};

    // The file of the transfer in progress.
    std::string header_;
    std::string name_;
    std::optional<std::uint64_t> announcedSize_;
    std::optional<std::uint64_t> filesLeft_;
    std::string modified_;
    // The latest block's bytes, held back from the sink: without an announced
    // size, its padding is known for padding only once the file has ended.
    std::string tail_;
    std::uint64_t received_ = 0;  // bytes taken, the tail's included
    bool sinkOpen_ = false;
    std::uint8_t expectedBlock_ = 1;
    bool dataStarted_ = false;
    Time headerArrived_{};
    int retries_ = 0;
    Time deadline_{};
    std::optional<Ending> lastEnding_;
    // Our acknowledgement of a delivered file's end went out, and no request
    // since: a header now is that sender's answer to it.
    bool awaitingContinuation_ = false;
};

}  // namespace vorlund
