#include "download/xmodem/xmodem_receiver.h"

#include <utility>

#include "download/blocks/block_bytes.h"

namespace vorlund {
namespace {

using Kind = TransferOutcome::Kind;

constexpr std::string_view kCancelSequence = "\x18\x18\x18\x18\x18\x18\x18\x18";

}  // namespace

XmodemReceiver::XmodemReceiver(Time now, TransferSink& sink, std::uint64_t largestFile,
                               bool checksum)
    : sink_(sink), largestFile_(largestFile), checksum_(checksum), lastByte_(now) {
    scanner_.UseChecksum(checksum);
    deadline_ = now + kBlockTimeout;
    // Nothing but the data tells of the file.
    if (Status begun = sink_.Begin(FileOffer{}, false); !begun) {
        Abandon(Kind::kRefused, now, begun.reason());
        return;
    }
    sinkOpen_ = true;
}

void XmodemReceiver::Receive(std::string_view bytes, Time now) {
    if (bytes.empty()) {
        return;
    }
    if (now - lastByte_ >= kByteTimeout) {
        Tick(now);
        scanner_.AfterSilence();
    }
    lastByte_ = now;
    scanner_.Append(bytes);
    Process(now, false);
}

void XmodemReceiver::Process(Time now, bool quiet) {
    for (;;) {
        scanner_.Expect(expectedBlock_);
        std::optional<Event> event = quiet ? scanner_.NextAtQuiet() : scanner_.Next();
        if (!event) {
            return;
        }
        Handle(std::move(*event), scanner_.HasPending(), now);
    }
}

void XmodemReceiver::Handle(Event event, bool more, Time now) {
    switch (event.kind) {
        case Event::Kind::kAbort:
            if (TransferInProgress()) {
                Abandon(Kind::kAbortedBySender, now);
            }
            break;
        case Event::Kind::kNoise:
            HandleNoise(event.damagedBlock, now);
            break;
        case Event::Kind::kEot:
            HandleEot(more, now);
            break;
        case Event::Kind::kBlock:
            pacing_.Block();
            if (event.checksum != checksum_) {
                pacing_.Dismiss();  // not the check this transfer uses
            } else {
                HandleBlock(event, more, now);
            }
            break;
    }
}

void XmodemReceiver::HandleNoise(bool damagedBlock, Time now) {
    pacing_.Noise(damagedBlock);
    if (TransferInProgress()) {
        pacing_.Defer(Reply::kRequestAgain, now);
    } else if (pacing_.Deferred() == Reply::kEndOfTransmission) {
        pacing_.Defer(Reply::kNothing, now);
    }
}

void XmodemReceiver::HandleBlock(const Event& event, bool more, Time now) {
    if (!TransferInProgress()) {
        pacing_.Dismiss();
        return;
    }
    if (event.number == expectedBlock_) {
        if (received_ >= largestFile_) {
            Abandon(Kind::kTooLarge, now);
            return;
        }
        if (Status written = sink_.Write(tail_); !written) {
            Abandon(Kind::kNotStored, now, written.reason());
            return;
        }
        tail_.assign(event.payload);
        received_ += event.payload.size();
        ++expectedBlock_;
        dataStarted_ = true;
        retries_ = 0;
        state_ = State::kReceiving;
        Answer(Reply::kAck, more, now);
    } else if (event.number == static_cast<std::uint8_t>(expectedBlock_ - 1) && dataStarted_) {
        // In already: our acknowledgement was lost, or a stalled line
        // delivers a copy late. One answer, once the line is quiet.
        state_ = State::kReceiving;
        pacing_.Defer(Reply::kAck, now);
    } else {
        Abandon(Kind::kProtocolError, now);
    }
}

void XmodemReceiver::HandleEot(bool more, Time now) {
    if (state_ == State::kComplete) {
        SendReply(Reply::kAck, now, false);  // our acknowledgement of the end was lost
        lastEnding_->at = now;
        return;
    }
    if (!TransferInProgress()) {
        return;
    }
    if (more) {
        HandleNoise(false, now);  // a sender that ends waits for our answer
        return;
    }
    pacing_.Defer(Reply::kEndOfTransmission, now);
}

void XmodemReceiver::EndOfTransmission(Time now) {
    const bool clean = pacing_.Current().blocks == 0 && !pacing_.Current().noise;
    switch (state_) {
        case State::kReceiving:
            // Only an end that follows our acknowledgement of a clean block
            // is taken, and only when it comes again: a lone EOT may be noise.
            if (clean && pacing_.LastAnswerWasAck() && dataStarted_) {
                SendReply(Reply::kNothing, now, true);
                output_.push_back(kNak);
                state_ = State::kEotRefused;
                deadline_ = now + kBlockTimeout;
            } else {
                SendReply(Reply::kRequestAgain, now, true);
            }
            return;
        case State::kEotRefused:
            if (clean) {
                Deliver(now);
            } else {
                SendReply(Reply::kRequestAgain, now, true);
            }
            return;
        case State::kComplete:
        case State::kIdle:
            SendReply(Reply::kNothing, now, true);
            return;
    }
}

void XmodemReceiver::Answer(Reply reply, bool more, Time now) {
    if (pacing_.MayAnswerNow(more)) {
        SendReply(reply, now, false);
    } else {
        pacing_.Defer(reply, now);
    }
}

void XmodemReceiver::SendReply(Reply reply, Time now, bool settled) {
    if (reply == Reply::kEndOfTransmission) {
        EndOfTransmission(now);
        return;
    }
    pacing_.Answered(reply, settled);
    switch (reply) {
        case Reply::kAck:
            output_.push_back(kAck);
            deadline_ = now + kBlockTimeout;
            break;
        case Reply::kRequestAgain:
            RequestAgain(now);
            break;
        case Reply::kRequestHeader:
        case Reply::kEndOfTransmission:
        case Reply::kNothing:
            break;
    }
}

void XmodemReceiver::RequestAgain(Time now) {
    if (!TransferInProgress()) {
        return;
    }
    if (++retries_ > kMaxRetries) {
        Abandon(Kind::kGivenUp, now);
        return;
    }
    output_.push_back(kNak);
    deadline_ = now + kBlockTimeout;
}

void XmodemReceiver::Tick(Time now) {
    if (scanner_.HasPending() && now - lastByte_ >= kByteTimeout) {
        Process(now, true);
    }
    if (const std::optional<Reply> deferred = pacing_.Deferred()) {
        if (now < pacing_.Due(lastByte_)) {
            return;
        }
        SendReply(*deferred, now, true);
    }
    if (TransferInProgress() && now >= deadline_) {
        SendReply(Reply::kRequestAgain, now, false);
    }
}

std::optional<XmodemReceiver::Time> XmodemReceiver::NextDeadline() const {
    std::optional<Time> due;
    if (scanner_.HasPending()) {
        due = lastByte_ + kByteTimeout;
    }
    const auto earliest = [&due](Time at) { due = due ? std::min(*due, at) : at; };
    if (pacing_.Deferred()) {
        earliest(pacing_.Due(lastByte_));
    } else if (TransferInProgress()) {
        earliest(deadline_);
    }
    return due;
}

std::string XmodemReceiver::TakeOutput() {
    return std::exchange(output_, {});
}

std::optional<TransferOutcome> XmodemReceiver::TakeOutcome() {
    if (outcomes_.empty()) {
        return std::nullopt;
    }
    TransferOutcome outcome = std::move(outcomes_.front());
    outcomes_.pop_front();
    return outcome;
}

bool XmodemReceiver::TransferInProgress() const {
    return state_ == State::kReceiving || state_ == State::kEotRefused;
}

void XmodemReceiver::Cancel(Time now) {
    scanner_.Clear();
    if (TransferInProgress()) {
        Abandon(Kind::kStopped, now);
    }
}

void XmodemReceiver::TakeNextFile(Time /*now*/) {
    if (state_ == State::kComplete) {
        state_ = State::kIdle;  // a transfer without a header has no next file
        pacing_.Reset();
    }
}

void XmodemReceiver::Deliver(Time now) {
    // The padding of the last block is all that can be told from the data.
    const std::size_t end = tail_.find_last_not_of(kPadding);
    const std::size_t kept = end == std::string::npos ? 0 : end + 1;
    received_ -= tail_.size() - kept;
    tail_.resize(kept);
    Status written = sink_.Write(tail_);
    Result<TransferSink::Kept> stored =
        written ? sink_.End() : Result<TransferSink::Kept>(Failure{written.reason()});
    sinkOpen_ = false;
    if (!stored) {
        Abandon(Kind::kNotStored, now, stored.reason());
        return;
    }
    // Only now, with the file safe, does the sender hear that it arrived.
    SendReply(Reply::kAck, now, false);
    TransferOutcome outcome = Outcome(Kind::kFileReceived);
    outcome.repeated = *stored == TransferSink::Kept::kRepeated;
    outcomes_.push_back(std::move(outcome));
    std::string().swap(tail_);
    state_ = State::kComplete;
    lastEnding_ = TransferEnding{true, now, LineProtocol::kXmodem, received_, false};
}

std::optional<XmodemReceiver::Time> XmodemReceiver::SilentFrom() const {
    if (!TransferInProgress()) {
        return std::nullopt;
    }
    return lastByte_ + kSenderSilentAfter;
}

bool XmodemReceiver::ClaimsBlock(std::uint8_t number, std::string_view payload) const {
    if (!TransferInProgress() || number == expectedBlock_) {
        return true;
    }
    // A resend of the block taken last has that block's bytes.
    return dataStarted_ && number == static_cast<std::uint8_t>(expectedBlock_ - 1) &&
           payload == tail_;
}

void XmodemReceiver::GiveWay(Time now) {
    scanner_.Clear();
    if (TransferInProgress()) {
        Abandon(Kind::kSenderReplaced, now);
    }
}

void XmodemReceiver::Abandon(Kind kind, Time now, std::string reason) {
    if (kind != Kind::kAbortedBySender && kind != Kind::kSenderReplaced) {
        output_.append(kCancelSequence);
    }
    if (sinkOpen_) {
        sink_.Discard();
        sinkOpen_ = false;
    }
    outcomes_.push_back(Outcome(kind, std::move(reason)));
    std::string().swap(tail_);
    pacing_.Reset();
    state_ = State::kIdle;
    lastEnding_ = TransferEnding{false, now, LineProtocol::kXmodem, 0, false};
}

TransferOutcome XmodemReceiver::Outcome(Kind kind, std::string reason) const {
    return TransferOutcome{kind, {}, received_, false, {}, {}, std::move(reason),
                           LineProtocol::kXmodem, 0};
}

}  // namespace vorlund
