#include "download/download_session.h"

#include <algorithm>
#include <utility>

#include "download/xmodem/xmodem_receiver.h"

namespace vorlund {
namespace {

// The delivery's header as the ledger records it; empty for a transfer that
// had none (XMODEM), whose bytes alone tell its resend.
DeliveryHeader Recorded(const FileOffer& header) {
    return DeliveryHeader{header.name, header.size, header.modified};
}

bool Named(const FileOffer& header) {
    return !header.name.empty();
}

}  // namespace

DownloadSession::DownloadSession(DeliveryHandOff& handOff, DownloadObserver& observer,
                                 std::uint64_t largestFile, PartialDeliveries* partials,
                                 ProtocolChoice protocol)
    : handOff_(handOff),
      observer_(observer),
      largestFile_(largestFile),
      partials_(partials),
      protocol_(protocol) {}

DownloadSession::~DownloadSession() {
    receiver_.reset();
}

void DownloadSession::Start(Time now) {
    Stop(now);
    now_ = now;
    sessionStart_ = now;
    // The service went down in the middle of a transfer, or perhaps of a
    // sender's session, whose sender nothing here knows: should it be a
    // ZMODEM sender waiting for an answer, the first round of invitations is
    // followed by a quiet spell in which it gives up or speaks again. (A
    // cancel would be quicker for it, but would end the attempt of a sender
    // of another protocol docked at that moment.)
    const bool cutShort = std::exchange(runCutShort_, false) || handOff_.TransferCutAtStart();
    const bool quietSpell = !lastEnding_ && cutShort;
    if (!lastEnding_ && !cutShort &&
        handOff_.ProtocolOpenAtStart() == ProtocolName(LineProtocol::kZmodem)) {
        // The service went down in a ZMODEM sender's open session, its last
        // file delivered: the sender may still wait for our answer.
        lastEnding_ = TransferEnding{true, now - ProtocolRecogniser::kEndRepeatWindow,
                                     LineProtocol::kZmodem, 0, true};
    }
    // Answers left from a line that has gone are no answers on this one: a
    // cancel among them would end the next sender before it began.
    output_.clear();
    receiver_ = std::make_unique<ProtocolRecogniser>(now, static_cast<TransferSink&>(*this),
                                                     lastEnding_, largestFile_, protocol_,
                                                     quietSpell);
}

void DownloadSession::Stop(Time now) {
    if (!receiver_) {
        return;
    }
    now_ = now;
    // The sender is told at once rather than left to time out.
    receiver_->Cancel(now);
    output_ += receiver_->TakeOutput();
    TakeOutcomes(now);
    lastEnding_ = receiver_->LastEnding();
    receiver_.reset();
}

void DownloadSession::Receive(std::string_view bytes, Time now) {
    if (receiver_) {
        now_ = now;
        receiver_->Receive(bytes, now);
        TakeOutcomes(now);
    }
}

void DownloadSession::Tick(Time now) {
    if (receiver_) {
        now_ = now;
        receiver_->Tick(now);
        TakeOutcomes(now);
        NoteXmodemEnds();
        for (auto end = unheard_.begin(); end != unheard_.end();) {
            if (now >= HeardAt(*end)) {
                // Not repeated while the line was up: the sender heard the
                // end, and the delivery's batch, its own, ends.
                handOff_.EndBatch(end->batch);
                end = unheard_.erase(end);
            } else {
                ++end;
            }
        }
    }
}

std::optional<DownloadSession::Time> DownloadSession::NextDeadline() const {
    if (!receiver_) {
        return std::nullopt;
    }
    std::optional<Time> due = receiver_->NextDeadline();
    for (const UnheardEnd& end : unheard_) {
        due = due ? std::min(*due, HeardAt(end)) : HeardAt(end);
    }
    return due;
}

void DownloadSession::NoteXmodemEnds() {
    // A repeat of its end that was answered again restarts the count.
    const std::optional<TransferEnding> ending = receiver_ ? receiver_->LastEnding() : std::nullopt;
    if (!unheard_.empty() && unheard_.back().lastOnLine && ending && ending->delivered &&
        ending->protocol == LineProtocol::kXmodem) {
        unheard_.back().answered = std::max(unheard_.back().answered, ending->at);
    }
}

DownloadSession::Time DownloadSession::HeardAt(const UnheardEnd& end) const {
    // Counted from our last answer to its end, on a line that is up.
    return std::max(end.answered, sessionStart_) + XmodemReceiver::kEndHeardAfter;
}

std::string DownloadSession::TakeOutput() {
    if (receiver_) {
        output_ += receiver_->TakeOutput();
    }
    return std::exchange(output_, {});
}

bool DownloadSession::TakeArrival() {
    return std::exchange(arrival_, false);
}

void DownloadSession::TakeOutcomes(Time now) {
    if (const std::size_t unrecognised = receiver_->TakeUnrecognised()) {
        observer_.UnrecognisedBytes(unrecognised);
    }
    while (std::optional<TransferOutcome> outcome = receiver_->TakeOutcome()) {
        observer_.TransferEnded(*outcome);
        if (outcome->kind != TransferOutcome::Kind::kFileReceived) {
            continue;
        }
        if (outcome->protocol == LineProtocol::kXmodem) {
            unheard_.push_back({handOff_.CurrentBatch(), now, true});
        }
        if (outcome->repeated) {
            // Nothing to convert, so no restart follows: this session takes
            // the next file itself.
            receiver_->TakeNextFile(now);
        } else {
            arrival_ = true;
        }
    }
}

Status DownloadSession::Begin(const FileOffer& header, bool continuesBatch) {
    if (Status opened = Open(header, continuesBatch); !opened) {
        return opened;
    }
    if (partials_ && Named(header)) {
        partials_->Forget(*header_);  // sent afresh: what was kept of it is no use
    }
    part_.reset();
    return {};
}

Status DownloadSession::Open(const FileOffer& header, bool continuesBatch) {
    // A transfer begins: a repeated end from now on is not an earlier
    // XMODEM delivery's, whose count goes on from our last answer to it.
    NoteXmodemEnds();
    for (UnheardEnd& end : unheard_) {
        end.lastOnLine = false;
    }
    Result<IncomingDelivery> incoming = handOff_.BeginReceiving(continuesBatch);
    if (!incoming) {
        return Status(Failure{incoming.reason()});
    }
    incoming_.emplace(std::move(*incoming));
    header_ = Recorded(header);
    return {};
}

Status DownloadSession::Write(std::string_view bytes) {
    return incoming_->Append(bytes);
}

Result<TransferSink::Kept> DownloadSession::End() {
    IncomingDelivery incoming = std::move(*incoming_);
    incoming_.reset();
    const std::optional<LineProtocol> protocol = receiver_->Protocol();
    const Result<DeliveryHandOff::Verdict> verdict = handOff_.Commit(
        std::move(incoming), header_, protocol ? ProtocolName(*protocol) : std::string_view());
    if (!verdict) {
        return Failure{verdict.reason()};
    }
    if (partials_ && part_) {
        partials_->Forget(part_->header);
        part_.reset();
    }
    return *verdict == DeliveryHandOff::Verdict::kRepeated ? Kept::kRepeated : Kept::kStored;
}

void DownloadSession::Discard() {
    incoming_.reset();
    part_.reset();
}

void DownloadSession::BatchEnded(bool afterDelivery) {
    if (afterDelivery) {
        handOff_.EndBatch();
    } else {
        handOff_.EndBatchOpenAtStart();
    }
}

std::optional<TransferSink::StagedPart> DownloadSession::FindStagedPart(const FileOffer& header) {
    if (!partials_ || !Named(header)) {
        return std::nullopt;
    }
    part_ = partials_->Find(Recorded(header), now_);
    if (!part_) {
        return std::nullopt;
    }
    return StagedPart{part_->bytes, part_->crc32};
}

Status DownloadSession::Continue(const FileOffer& header, bool continuesBatch) {
    if (!part_) {
        return Failure{"no part of the file is kept"};
    }
    if (Status opened = Open(header, continuesBatch); !opened) {
        return opened;
    }
    // The part stays kept until the file arrives, or a longer part of it
    // replaces it: a transfer cut off again loses nothing it had.
    if (Status copied = partials_->CopyInto(*part_, *incoming_); !copied) {
        incoming_.reset();
        return copied;
    }
    return {};
}

void DownloadSession::Suspend() {
    if (!partials_ || !header_ || header_->name.empty() || !incoming_ || incoming_->Bytes() == 0) {
        Discard();
        return;
    }
    // Kept only if it can be kept whole; otherwise the next transfer of the
    // file begins afresh, as it would have without crash recovery.
    static_cast<void>(partials_->Keep(std::move(*incoming_), *header_, now_));
    incoming_.reset();
    part_.reset();
}

}  // namespace vorlund
