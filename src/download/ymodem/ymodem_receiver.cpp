#include "download/ymodem/ymodem_receiver.h"

#include <algorithm>
#include <utility>

#include "download/blocks/block_bytes.h"
#include "download/protocol_receiver.h"

namespace vorlund {

namespace {

using Kind = YmodemReceiver::Outcome::Kind;
using Event = BlockScanner::Event;

// More than the two CAN the sender needs, so that one lost on the line still
// leaves a pair.
constexpr std::string_view kCancelSequence = "\x18\x18\x18\x18\x18\x18\x18\x18";

}  // namespace

YmodemReceiver::YmodemReceiver(Time now, FileSink& sink, std::uint64_t largestFile)
    : sink_(sink), largestFile_(largestFile) {
    Send(kCrcRequest);
    deadline_ = now + kHeaderRequestInterval;
}

void YmodemReceiver::Receive(std::string_view bytes, Time now) {
    if (bytes.empty()) {
        return;
    }
    if (now - lastByte_ >= kByteTimeout) {
        // Whatever was due in the silence comes first, should the owner not
        // have ticked, and the new bytes start afresh.
        Tick(now);
        scanner_.AfterSilence();
    }
    lastByte_ = now;
    scanner_.Append(bytes);
    Process(now, false);
}

void YmodemReceiver::Process(Time now, bool quiet) {
    for (;;) {
        scanner_.Expect(ExpectedNumber());
        std::optional<Event> event = quiet ? scanner_.NextAtQuiet() : scanner_.Next();
        if (!event) {
            return;
        }
        Handle(std::move(*event), scanner_.HasPending(), now);
    }
}

void YmodemReceiver::Handle(Event event, bool more, Time now) {
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
            if (event.number == 0 && !IsDataBlockZero(event.payload)) {
                HandleBlockZero(event.payload, more, now);
            } else if (event.checksum) {
                pacing_.Dismiss();  // only a header is taken with the checksum
            } else {
                HandleDataBlock(event.number, event.payload, more, now);
            }
            break;
    }
}

void YmodemReceiver::HandleNoise(bool damagedBlock, Time now) {
    pacing_.Noise(damagedBlock);
    switch (state_) {
        case State::kReceiving:
        case State::kEotRefused:
            // Whatever it was, the sender may be waiting: once the line is
            // quiet it is asked for the block, not after the full timeout.
            pacing_.Defer(Reply::kRequestAgain, now);
            break;
        case State::kAwaitingHeader:
            if (damagedBlock) {
                pacing_.Defer(Reply::kRequestHeader, now);
            } else if (pacing_.Deferred() == Reply::kEndOfTransmission) {
                pacing_.Defer(Reply::kNothing, now);  // the EOT was part of the noise
            }
            break;
        case State::kComplete:
            break;
    }
}

void YmodemReceiver::HandleEot(bool more, Time now) {
    if (state_ == State::kComplete) {
        // Our acknowledgement of the end was lost.
        SendReply(Reply::kAck, now, false);
        Send(kCrcRequest);
        return;
    }
    if (TransferInProgress() && DataComplete()) {
        // Every announced byte is in: the end can only be the end.
        Deliver(now, true);
        return;
    }
    if (more) {
        // A sender that ends waits for our answer; an EOT with more bytes
        // hard behind it is noise that happens to look like one.
        HandleNoise(false, now);
        return;
    }
    pacing_.Defer(Reply::kEndOfTransmission, now);
}

void YmodemReceiver::Answer(Reply reply, bool more, Time now) {
    if (pacing_.MayAnswerNow(more)) {
        SendReply(reply, now, false);
    } else {
        pacing_.Defer(reply, now);
    }
}

void YmodemReceiver::SendReply(Reply reply, Time now, bool settled) {
    if (reply == Reply::kEndOfTransmission) {
        // Decided on what came with the EOT, then answered through here.
        EndOfTransmission(now);
        return;
    }
    const AnswerPacing::Burst answered = pacing_.Answered(reply, settled);
    switch (reply) {
        case Reply::kAck:
            Send(kAck);
            deadline_ = now + (TransferInProgress() ? kBlockTimeout : kHeaderRequestInterval);
            break;
        case Reply::kRequestAgain:
            RequestAgain(now, answered.damagedBlock);
            break;
        case Reply::kRequestHeader:
            Send(kCrcRequest);
            deadline_ = now + kHeaderRequestInterval;
            // Whoever answers this may be another terminal.
            awaitingContinuation_ = false;
            break;
        case Reply::kEndOfTransmission:
        case Reply::kNothing:
            break;
    }
}

void YmodemReceiver::RequestAgain(Time now, bool afterDamagedBlock) {
    // A sender that gives up on its header writes its cancel and flushes its
    // line at once (sz does), which throws the cancel away unless the line
    // has carried it off already. So silence is often all we learn of it,
    // and it is not worth ten block timeouts before its transfer is reported.
    const bool senderGone = !dataStarted_ && now - lastByte_ >= kSilentStart;
    if (++retries_ > kMaxRetries || senderGone) {
        Abandon(Kind::kGivenUp, now);
        return;
    }
    // Until the first data block has come, the sender may still wait for
    // the 'C' that followed our acknowledgement of the header.
    const bool sending = dataStarted_ || afterDamagedBlock || state_ == State::kEotRefused;
    Send(sending ? kNak : kCrcRequest);
    deadline_ = now + kBlockTimeout;
}

std::uint8_t YmodemReceiver::ExpectedNumber() const {
    return TransferInProgress() ? expectedBlock_ : 0;
}

void YmodemReceiver::SendCancel() {
    output_.append(kCancelSequence);
}

void YmodemReceiver::Tick(Time now) {
    if (scanner_.HasPending() && now - lastByte_ >= kByteTimeout) {
        // A block that went quiet will never complete.
        Process(now, true);
    }
    if (const std::optional<Reply> deferred = pacing_.Deferred()) {
        if (now < pacing_.Due(lastByte_)) {
            return;
        }
        SendReply(*deferred, now, true);
    }
    if (state_ == State::kComplete || now < deadline_) {
        return;
    }
    if (state_ == State::kAwaitingHeader) {
        SendReply(Reply::kRequestHeader, now, false);
    } else {
        // Something of ours may be on its way to the sender, or something of
        // its to us: the answer to what comes next waits for quiet.
        SendReply(Reply::kRequestAgain, now, false);
    }
}

std::optional<YmodemReceiver::Time> YmodemReceiver::NextDeadline() const {
    std::optional<Time> due;
    if (scanner_.HasPending()) {
        due = lastByte_ + kByteTimeout;
    }
    const auto earliest = [&due](Time at) { due = due ? std::min(*due, at) : at; };
    if (pacing_.Deferred()) {
        earliest(pacing_.Due(lastByte_));
    } else if (state_ != State::kComplete) {
        earliest(deadline_);
    }
    return due;
}

std::string YmodemReceiver::TakeOutput() {
    return std::exchange(output_, {});
}

std::optional<YmodemReceiver::Outcome> YmodemReceiver::TakeOutcome() {
    if (outcomes_.empty()) {
        return std::nullopt;
    }
    Outcome outcome = std::move(outcomes_.front());
    outcomes_.pop_front();
    return outcome;
}

bool YmodemReceiver::TransferInProgress() const {
    return state_ == State::kReceiving || state_ == State::kEotRefused;
}

void YmodemReceiver::Cancel(Time now) {
    scanner_.Clear();
    if (TransferInProgress()) {
        Abandon(Kind::kStopped, now);
    }
}

std::optional<YmodemReceiver::Time> YmodemReceiver::SilentFrom() const {
    if (!TransferInProgress()) {
        return std::nullopt;
    }
    return lastByte_ + ProtocolReceiver::kSenderSilentAfter;
}

bool YmodemReceiver::ClaimsBlock(std::uint8_t number, std::string_view payload) const {
    if (!TransferInProgress() || number == expectedBlock_) {
        return true;
    }
    if (number == 0 && (payload == header_ || IsDataBlockZero(payload))) {
        return true;  // its header again, or data after the numbers wrapped
    }
    // A resend of the block taken last has that block's bytes.
    return dataStarted_ && number == static_cast<std::uint8_t>(expectedBlock_ - 1) &&
           payload.substr(0, tail_.size()) == tail_;
}

void YmodemReceiver::GiveWay(Time now) {
    scanner_.Clear();
    if (TransferInProgress()) {
        Abandon(Kind::kSenderReplaced, now);
    }
}

void YmodemReceiver::TakeNextFile(Time now) {
    if (state_ == State::kComplete) {
        state_ = State::kAwaitingHeader;
        deadline_ = now + kHeaderRequestInterval;
    }
}

}  // namespace vorlund
