// The Linux control's download without its serial port: one YMODEM session
// per Download, each file received straight into the delivery hand-off, and
// what the sender is told about it. It does no I/O and reads no clock: its
// owner feeds it the line's bytes and the time, writes out what it answers,
// and raises code 1000 when an arrival is due.
//
// The sender hears that its file has arrived only once the delivery is
// recorded and in place. A lone end of transmission, from a sender that
// missed that answer (the line dropped, noise), is answered again only while
// the last transfer on the line is that stored delivery; once another
// transfer has begun, or after a restart, it is not, and the sender fails and
// sends again, which the repeat rule answers without a second export.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "delivery/delivery_hand_off.h"
#include "download/download_observer.h"
#include "download/ymodem_receiver.h"

namespace vorlund {

class YmodemDownload final : private YmodemReceiver::FileSink {
  public:
    using Time = YmodemReceiver::Time;

    // `largestFile`: the largest file a transfer may bring; one larger is
    // refused before it fills the disk, or a write fails beyond a limit of
    // the process.
    YmodemDownload(DeliveryHandOff& handOff, DownloadObserver& observer,
                   std::uint64_t largestFile = YmodemReceiver::kLargestFile);
    ~YmodemDownload() override;
    YmodemDownload(const YmodemDownload&) = delete;
    YmodemDownload& operator=(const YmodemDownload&) = delete;

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
    // FileSink: the file goes straight into the hand-off.
    Status Begin(const YmodemHeader& header, bool continuesBatch) override;
    Status Write(std::string_view bytes) override;
    Result<Kept> End() override;
    void Discard() override;
    void BatchEnded() override;

    void TakeOutcomes(Time now);

    DeliveryHandOff& handOff_;
    DownloadObserver& observer_;
    const std::uint64_t largestFile_;
    std::unique_ptr<YmodemReceiver> receiver_;
    std::optional<IncomingDelivery> incoming_;
    std::optional<DeliveryHeader> header_;
    std::string output_;
    bool arrival_ = false;
    // How the last transfer on the line ended, carried from one session to
    // the next for a sender that repeats its end.
    std::optional<YmodemReceiver::Ending> lastEnding_;
};

}  // namespace vorlund
