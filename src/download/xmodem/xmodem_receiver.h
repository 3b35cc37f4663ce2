// The receiving side of XMODEM: blocks numbered from 1, of 128 or 1,024
// bytes, with a CRC-16 or, from a sender that chose it, the one-byte
// checksum of the original protocol; no header, so no name, size or
// modification time. The transfer begins with its first block, which the
// recogniser has seen, and ends with the sender's end of transmission; the
// file is what was sent without the padding (SUB) of its last block.
//
// It keeps step with the sender as the YMODEM receiver does (the same frame
// scanner and answer pacing), and its end follows YMODEM's rule for a file
// without a size: an end of transmission counts only where no block data
// can be, when nothing follows it, and when it comes twice.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "download/blocks/answer_pacing.h"
#include "download/blocks/block_scanner.h"
#include "download/protocol_receiver.h"
#include "download/transfer_sink.h"

namespace vorlund {

class XmodemReceiver final : public ProtocolReceiver {
  public:
    // Longest wait for the sender's next block (or EOT).
    static constexpr Time kBlockTimeout{10000};
    // The line is quiet after this long without a byte.
    static constexpr Time kByteTimeout{1000};
    // Requests repeated for one block before the transfer is given up.
    static constexpr int kMaxRetries = 10;
    // A sender repeats an end that nobody answers every 10 seconds or so:
    // once the line has been up this long after our last answer to its end
    // without a repeat of it, the sender is taken to have heard it.
    static constexpr Time kEndHeardAfter{30000};

    // A transfer begins; its first block comes next. `checksum`: the sender
    // sends every block with the checksum. The sink must outlive it.
    XmodemReceiver(Time now, TransferSink& sink, std::uint64_t largestFile, bool checksum);

    void Receive(std::string_view bytes, Time now) override;
    void Tick(Time now) override;
    std::optional<Time> NextDeadline() const override;
    std::string TakeOutput() override;
    std::optional<TransferOutcome> TakeOutcome() override;

    bool TransferInProgress() const override;
    bool Idle() const override { return state_ == State::kIdle && !pacing_.Deferred(); }
    void Cancel(Time now) override;
    void TakeNextFile(Time now) override;

    std::optional<TransferEnding> LastEnding() const override { return lastEnding_; }
    void RememberEnding(TransferEnding ending) override { lastEnding_ = ending; }
    std::size_t HeldBytes() const override { return tail_.capacity(); }
    std::optional<Time> SilentFrom() const override;
    bool ClaimsBlock(std::uint8_t number, std::string_view payload) const override;
    void GiveWay(Time now) override;

  private:
    enum class State {
        kReceiving,
        kEotRefused,  // one EOT answered with NAK; the next one is taken
        kComplete,    // the file is in; a repeated end is answered again
        kIdle,        // the transfer failed: nothing more is answered
    };
    using Reply = AnswerPacing::Reply;
    using Event = BlockScanner::Event;

    void Process(Time now, bool quiet);
    void Handle(Event event, bool more, Time now);
    void HandleBlock(const Event& event, bool more, Time now);
    void HandleEot(bool more, Time now);
    void HandleNoise(bool damagedBlock, Time now);
    void EndOfTransmission(Time now);

    void Answer(Reply reply, bool more, Time now);
    void SendReply(Reply reply, Time now, bool settled);
    void RequestAgain(Time now);
    void Deliver(Time now);
    void Abandon(TransferOutcome::Kind kind, Time now, std::string reason = {});
    TransferOutcome Outcome(TransferOutcome::Kind kind, std::string reason = {}) const;

    TransferSink& sink_;
    std::uint64_t largestFile_;
    bool checksum_;
    State state_ = State::kReceiving;
    std::string output_;
    std::deque<TransferOutcome> outcomes_;
    BlockScanner scanner_;
    AnswerPacing pacing_{kByteTimeout, kBlockTimeout};
    Time lastByte_{};
    Time deadline_{};
    int retries_ = 0;

    bool sinkOpen_ = false;
    // The latest block, held back from the sink until the next: its padding
    // is known for padding only once the file has ended.
    std::string tail_;
    std::uint64_t received_ = 0;  // bytes taken, the tail's included
    std::uint8_t expectedBlock_ = 1;
    bool dataStarted_ = false;
    std::optional<TransferEnding> lastEnding_;
};

}  // namespace vorlund
