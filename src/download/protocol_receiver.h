// The receiving side of one line protocol, as the download session sees
// it, whatever the protocol. None does I/O or keeps a clock: the owner feeds
// it the bytes read from the line and the current time, writes out what
// TakeOutput returns, and calls Tick when NextDeadline has come. Whatever
// the line brings, none throws.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/transfer_outcome.h"

namespace vorlund {

// Far beyond any terminal's delivery; a sender that announces or sends more
// is refused rather than allowed to fill the disk, or the memory of the
// conversion that follows.
inline constexpr std::uint64_t kLargestTransfer = 64 * 1024 * 1024;

class ProtocolReceiver {
  public:
    // A point on a monotonic clock whose origin the owner chooses.
    using Time = std::chrono::milliseconds;

    virtual ~ProtocolReceiver() = default;

    virtual void Receive(std::string_view bytes, Time now) = 0;
    // Handles whatever has fallen due by `now`; harmless when nothing has.
    virtual void Tick(Time now) = 0;
    // When Tick must next be called; none while nothing can fall due.
    virtual std::optional<Time> NextDeadline() const = 0;
    // The bytes to write to the line, in order, since the last call.
    virtual std::string TakeOutput() = 0;
    // The transfers that ended since the last call, oldest first.
    virtual std::optional<TransferOutcome> TakeOutcome() = 0;

    // Between an accepted file and its acknowledged end.
    virtual bool TransferInProgress() const = 0;
    // Holds nothing of a sender: no transfer, no session, no end still to
    // answer. The next frame on the line may be any protocol's.
    virtual bool Idle() const = 0;
    // Tells the sender that the transfer is off and ends it as kStopped.
    virtual void Cancel(Time now) = 0;
    // Once the session's file is in and was a repeat: the session takes the
    // next file too.
    virtual void TakeNextFile(Time now) = 0;

    // How the last transfer on the line ended, carried to the next session
    // for a sender that repeats its end.
    virtual std::optional<TransferEnding> LastEnding() const = 0;
    virtual void RememberEnding(TransferEnding ending) = 0;

    // The memory held for the transfer in progress: about a block.
    virtual std::size_t HeldBytes() const = 0;

    // A sender that has said nothing for this long, in a transfer or a
    // session, may be gone (a terminal lifted from its cradle, another docked
    // in its place): the line is then invited alongside, and a new sender's
    // first frame ends the transfer.
    static constexpr Time kSenderSilentAfter{3000};
    // From when the sender it holds counts as silent, should nothing arrive;
    // none while it holds no sender that could go silent.
    virtual std::optional<Time> SilentFrom() const = 0;
    // Whether the block numbered `number` with `payload` can be its own
    // sender's (the block it waits for, or a resend of the last one), rather
    // than the first block of a new sender.
    virtual bool ClaimsBlock(std::uint8_t number, std::string_view payload) const = 0;
    // A new sender has taken the line: the transfer ends as kSenderReplaced
    // (what ZMODEM received is kept for a resume), and nothing is said.
    virtual void GiveWay(Time now) = 0;
};

}  // namespace vorlund
