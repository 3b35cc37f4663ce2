// The receiving side of ZMODEM, for one file per session, as the download
// session takes files: the sender's request is answered with ZRINIT, its
// file offer with the position to send from, its data streams in
// subpackets that are written as they arrive, and its end is answered only
// once the file is kept. Damaged data is asked for again from the last good
// position (ZRPOS), so one error costs a resend from there, not the file.
//
// A file offered with crash recovery continues from the part that an
// earlier, cut-off transfer of it left, only once the sender has proved that
// part its own: it is asked for the CRC-32 of that many bytes of its file
// (ZCRC), which must be the part's. Name, size and modification time prove
// nothing (a terminal without a clock, or with fixed-length records, offers
// a different file under the same three): without a CRC that matches, the
// file is received from its first byte.
//
// Once the file is in, the session answers the sender's end of session
// (ZFIN) and a repeated end of file, and keeps a further file's offer for
// the next session, which answers it at once (GoOn), so a batch arrives one
// file per session. It never says ZNAK, which not every sender takes: a
// header that came damaged is asked for again by repeating our last one.
//
// Nothing that would run or name a file on this machine is done: a
// command (ZCOMMAND) is refused, and the sender's file name is only
// recorded.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "download/file_offer.h"
#include "download/protocol_receiver.h"
#include "download/transfer_sink.h"
#include "download/zmodem/zmodem_frame_scanner.h"

namespace vorlund {

class ZmodemReceiver final : public ProtocolReceiver {
  public:
    // Longest wait for the sender's next frame before our last word is
    // repeated.
    static constexpr Time kFrameTimeout{10000};
    // A frame that stops arriving for this long is given up: the sender
    // went away in its middle, and the next bytes may be a new sender's.
    static constexpr Time kByteTimeout{1000};
    // Errors in a row (timeouts, damaged or misplaced data) before the
    // transfer is given up: each was answered, and nothing came of it.
    static constexpr int kMaxRetries = 10;
    // Requests for the file's CRC-32, each waited for this long, before the
    // sender counts as giving none (one that can, answers at once).
    static constexpr int kCrcRequests = 2;
    static constexpr Time kCrcAnswerTimeout{5000};
    // Our last word repeated to a silent sender before it counts as gone: a
    // sender that is there answers it at once.
    static constexpr int kSilentRetries = 2;
    // How long the line stays free of invitations after our ready header,
    // for a sender that waits for quiet before it offers its file again.
    static constexpr Time kQuietAfterReady{6000};
    // How long after a file was delivered its sender may still repeat the
    // end of file and be answered as that file's sender.
    static constexpr Time kEndRepeatWindow{60000};

    // Waits for a sender's request. The sink must outlive it.
    ZmodemReceiver(Time now, TransferSink& sink, std::uint64_t largestFile);

    // We offered ZRINIT unasked (the line is fixed to ZMODEM): a sender may
    // answer with its file offer.
    void Invited(Time now);
    // The previous session's file was delivered and its sender's session is
    // still open: its offer of the next file, if it came, is answered now;
    // otherwise our answer to its end is said again, which a sender waiting
    // after its end of file, its offer or its end of session goes on from.
    void GoOn(const TransferEnding& previous, Time now);

    void Receive(std::string_view bytes, Time now) override;
    void Tick(Time now) override;
    std::optional<Time> NextDeadline() const override;
    std::string TakeOutput() override;
    std::optional<TransferOutcome> TakeOutcome() override;

    bool TransferInProgress() const override;
    bool Idle() const override { return state_ == State::kIdle && !overDue_ && !cancelDue_; }
    void Cancel(Time now) override;
    void TakeNextFile(Time now) override;

    std::optional<TransferEnding> LastEnding() const override { return lastEnding_; }
    void RememberEnding(TransferEnding ending) override { lastEnding_ = ending; }
    std::size_t HeldBytes() const override { return 0; }
    std::optional<Time> SilentFrom() const override;
    bool ClaimsBlock(std::uint8_t, std::string_view) const override { return false; }
    void GiveWay(Time now) override;

    // A session is open but no file has been offered yet: a sender that
    // fell back to another protocol may still be on its way.
    bool AwaitingOffer() const {
        return !offered_ && (state_ == State::kIdle || state_ == State::kSession);
    }

    // The sender ended its session (ZFIN) since the last call: it has heard
    // every answer it waited for.
    bool TakeSessionEnded();

  private:
    enum class State {
        kIdle,          // no session: a sender's request is awaited
        kSession,       // ZRINIT sent: a file offer, or the end, is awaited
        kCheckingPart,  // a file to continue: its CRC-32 is asked for
        kReceiving,     // ZRPOS sent: data until the end of file
        kComplete,      // the session's file is in
    };
    using Event = ZmodemFrameScanner::Event;
    using FrameType = zmodem::FrameType;

    void Handle(Event event, Time now);
    void HandleHeader(const ZmodemHeader& header, Time now);
    void HandleData(const Event& event, Time now);
    void HandleEndOfFile(std::uint32_t position, Time now);
    void HandleEndOfSession(Time now);
    void HandleDamage(Event::Kind kind, Time now);

    // zmodem_receiver_file.cpp: the file offered, its data, its end.
    void OfferFile(std::string_view info, std::uint8_t conversion, Time now);
    void CheckPart(std::optional<std::uint32_t> crc, Time now);
    void BeginFile(bool resume, Time now);
    void TakeData(const Event& event, Time now);
    void Deliver(Time now);
    void Abandon(TransferOutcome::Kind kind, Time now, std::string reason = {});
    void Refuse(std::string reason, Time now);

    // Sends a header and makes it the one a ZNAK, a damaged frame or a
    // timeout repeats.
    void Say(const ZmodemHeader& header, Time now);
    // Our last header again, for a frame of the sender's that came damaged:
    // once a burst.
    void SayAgain(Time now);
    // A deadline passed with nothing from the sender; false once it has been
    // silent through kSilentRetries of our repeats.
    bool SilentRetry();
    // Asks for the data from the last good position, once until it comes.
    void RequestPosition(Time now);
    // Counts an error; false once there have been too many in a row.
    bool Retry(Time now);
    void SendCancel();
    // Cancels a sender whose frames belong to no transfer here, once the
    // line is quiet, unless a new session begins first.
    void CancelAtQuiet(Time now);
    void ResetFile();
    TransferOutcome Outcome(TransferOutcome::Kind kind, std::string reason = {}) const;

    TransferSink& sink_;
    std::uint64_t largestFile_;
    State state_ = State::kIdle;
    ZmodemFrameScanner scanner_;
    Time lastByte_{};
    std::string output_;
    std::deque<TransferOutcome> outcomes_;
    std::optional<ZmodemHeader> lastSaid_;
    Time saidAt_{};
    Time deadline_{};
    int retries_ = 0;
    int silentRetries_ = 0;  // deadlines passed since the sender's last byte
    // The header whose data subpackets come next, with its flags.
    std::optional<ZmodemHeader> dataFor_;
    bool sessionEnded_ = false;
    // Our answer to the end of session went out: the sender's "OO" is
    // awaited until then, and the answer said once more if it does not come
    // (a sender that missed it waits, and takes any invitation for noise).
    std::optional<Time> overDue_;
    std::optional<Time> cancelDue_;
    bool overRepeated_ = false;
    bool offered_ = false;  // a file has been offered in this session
    // Our answer to a delivered file's end went out, and nothing since: a
    // file offered now continues the sender's batch, and its end of session
    // ends it.
    bool afterDelivery_ = false;
    bool continuesBatch_ = false;  // the file in progress continues a batch

    // The file of the transfer in progress.
    std::optional<FileOffer> file_;
    bool sinkOpen_ = false;
    std::uint64_t received_ = 0;
    std::uint64_t resumedFrom_ = 0;
    // Data is taken only after a ZDATA header at our position.
    bool inStep_ = false;
    bool positionRequested_ = false;
    std::optional<TransferSink::StagedPart> part_;
    int crcRequests_ = 0;
    std::optional<TransferEnding> lastEnding_;
};

}  // namespace vorlund
