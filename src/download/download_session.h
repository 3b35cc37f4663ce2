// The Linux control's download without its serial port: one session per
// Download, whatever the sender speaks (the recogniser chooses the
// protocol's receiver), each file received straight into the delivery
// hand-off, and what the sender is told about it. It does no I/O and reads
// no clock: its owner feeds it the line's bytes and the time, writes out
// what it answers, and raises code 1000 when an arrival is due.
//
// The sender hears that its file has arrived only once the delivery is
// recorded and in place. A lone end of transmission, from a sender that
// missed that answer (the line dropped, noise), is answered again only while
// the last transfer on the line is that stored delivery; once another
// transfer has begun, or after a restart, it is not, and the sender fails and
// sends again, which the repeat rule answers without a second export.
//
// A ZMODEM transfer cut off keeps what it received (PartialDeliveries), and
// a sender that offers the file again with crash recovery goes on from there.
//
// An XMODEM delivery has no header, and XMODEM no end of batch: it is a
// repeat candidate by its bytes alone until its sender shows that it heard
// our answer to its end, by not repeating that end while the line stays up
// for XmodemReceiver::kEndHeardAfter; then it stops being one, so that a
// genuine second count with the same lines is exported. Another sender's
// transfer in between changes nothing of that count (a repeat of the end is
// then no longer answered as its own: its sender fails and sends the file
// again, which, within the time, is its resend). A restart in that time
// leaves it a candidate, so that a sender told nothing is not doubled.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/delivery_hand_off.h"
#include "delivery/partial_deliveries.h"
#include "download/download_observer.h"
#include "download/protocol_receiver.h"
#include "download/protocol_recogniser.h"
#include "settings/protocol_setting.h"

namespace vorlund {

class DownloadSession final : private TransferSink {
  public:
    using Time = ProtocolReceiver::Time;

    // `largestFile`: the largest file a transfer may bring; one larger is
    // refused before it fills the disk, or a write fails beyond a limit of
    // the process. `partials`: where transfers cut off are kept; none keeps
    // nothing. `protocol`: the protocols the line is received with.
    DownloadSession(DeliveryHandOff& handOff, DownloadObserver& observer,
                    std::uint64_t largestFile = kLargestTransfer,
                    PartialDeliveries* partials = nullptr,
                    ProtocolChoice protocol = ProtocolChoice::kAuto);
    ~DownloadSession() override;
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;

    // The service's run before this one was cut short (a kill, a power cut):
    // a sender it was talking to may still wait for an answer, and the first
    // reception leaves it a quiet spell to give up in.
    void AfterRunCutShort() { runCutShort_ = true; }

    // A reception begins on a line just opened: the session asks for a file.
    void Start(Time now);
    // The reception ends (StopRunning, or the line failed). A transfer under
    // way is cancelled; the cancel waits in TakeOutput for a line that can
    // still take it.
    void Stop(Time now);
    bool Running() const { return receiver_ != nullptr; }

    void Receive(std::string_view bytes, Time now);
    // Handles whatever has fallen due by `now`.
    void Tick(Time now);
    std::optional<Time> NextDeadline() const;
    // The bytes to write to the line, in order.
    std::string TakeOutput();
    // A delivery has been stored since the last call: code 1000 is due.
    bool TakeArrival();

  private:
    // TransferSink: the file goes straight into the hand-off.
    Status Begin(const FileOffer& header, bool continuesBatch) override;
    Status Write(std::string_view bytes) override;
    Result<Kept> End() override;
    void Discard() override;
    void BatchEnded(bool afterDelivery) override;
    std::optional<StagedPart> FindStagedPart(const FileOffer& header) override;
    Status Continue(const FileOffer& header, bool continuesBatch) override;
    void Suspend() override;

    // The hand-off's staged file for a transfer of the file `header` announces.
    Status Open(const FileOffer& header, bool continuesBatch);
    void TakeOutcomes(Time now);
    // XMODEM deliveries whose senders have not yet shown that they heard our
    // answer to their end: each stays a repeat candidate until the line has
    // been up for a while after that answer without a repeat of it.
    struct UnheardEnd {
        std::uint64_t batch;  // the delivery's own
        Time answered;        // our last answer to its end
        bool lastOnLine;      // no transfer since: a repeated end is its own
    };
    void NoteXmodemEnds();
    Time HeardAt(const UnheardEnd& end) const;

    DeliveryHandOff& handOff_;
    DownloadObserver& observer_;
    const std::uint64_t largestFile_;
    PartialDeliveries* const partials_;
    const ProtocolChoice protocol_;
    std::unique_ptr<ProtocolRecogniser> receiver_;
    std::optional<IncomingDelivery> incoming_;
    std::optional<DeliveryHeader> header_;
    // The part the transfer in progress continues.
    std::optional<PartialDeliveries::Part> part_;
    std::string output_;
    bool arrival_ = false;
    Time now_{};
    // How the last transfer on the line ended, carried from one session to
    // the next for a sender that repeats its end.
    std::optional<TransferEnding> lastEnding_;
    Time sessionStart_{};
    std::vector<UnheardEnd> unheard_;
    bool runCutShort_ = false;
};

}  // namespace vorlund
