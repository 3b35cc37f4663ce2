#include "download/zmodem/zmodem_receiver.h"

#include <algorithm>
#include <utility>

namespace vorlund {
namespace {

using namespace zmodem;
using Kind = TransferOutcome::Kind;

// Ten CAN, then as many backspaces to clear them from a screen: a sender
// ends at five, so one lost on the line still leaves enough.
constexpr std::string_view kCancelSequence =
    "\x18\x18\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b\b\b";

}  // namespace

ZmodemReceiver::ZmodemReceiver(Time now, TransferSink& sink, std::uint64_t largestFile)
    : sink_(sink), largestFile_(largestFile), lastByte_(now) {}

void ZmodemReceiver::Receive(std::string_view bytes, Time now) {
    if (bytes.empty()) {
        return;
    }
    if (now - lastByte_ >= kByteTimeout && scanner_.InFrame()) {
        // A subpacket does not pause this long: its sender has gone, and a
        // new one's request must not be taken for its data.
        if (std::optional<Event> given = scanner_.GiveUpFrame()) {
            Handle(std::move(*given), now);
        }
    }
    if (now - lastByte_ >= kSenderSilentAfter) {
        // A sender that goes on with its batch does so at once; after a
        // silence this long, it may be one that was lifted out and docked
        // again, which begins a batch of its own.
        afterDelivery_ = false;
    }
    lastByte_ = now;
    silentRetries_ = 0;
    if (overDue_ && bytes.find('O') != std::string_view::npos) {
        overDue_.reset();  // over and out: it heard our answer
        if (lastEnding_) lastEnding_->overAwaited = false;
    }
    scanner_.Append(bytes);
    while (std::optional<Event> event = scanner_.Next()) {
        Handle(std::move(*event), now);
    }
}

void ZmodemReceiver::Handle(Event event, Time now) {
    switch (event.kind) {
        case Event::Kind::kAbort:
            if (TransferInProgress()) {
                Abandon(Kind::kAbortedBySender, now);
            }
            state_ = State::kIdle;
            break;
        case Event::Kind::kBadHeader:
        case Event::Kind::kBadData:
            HandleDamage(event.kind, now);
            break;
        case Event::Kind::kHeader:
            HandleHeader(event.header, now);
            break;
        case Event::Kind::kData:
            HandleData(event, now);
            break;
    }
}

void ZmodemReceiver::HandleDamage(Event::Kind kind, Time now) {
    switch (state_) {
        case State::kReceiving:
            RequestPosition(now);
            break;
        case State::kSession:
        case State::kCheckingPart:
            // Most likely the file offer or its data: our last header again
            // asks for it, as a sender that missed it expects.
            SayAgain(now);
            break;
        case State::kIdle:
        case State::kComplete:
            break;  // noise, or what this session does not answer
    }
    if (kind == Event::Kind::kBadData) {
        dataFor_.reset();
    }
}

void ZmodemReceiver::HandleHeader(const ZmodemHeader& header, Time now) {
    dataFor_.reset();
    if (lastEnding_) {
        lastEnding_->senderWaits = false;  // it speaks: it waits for nothing lost
    }
    switch (header.type) {
        case FrameType::kRqInit:
            if (state_ == State::kComplete) {
                // It starts over after its file: the next session answers it
                // as a new sender, when it asks again.
                if (lastEnding_) lastEnding_->senderWaits = false;
                return;
            }
            if (TransferInProgress()) {
                Abandon(Kind::kSenderReplaced, now);
            }
            overDue_.reset();
            cancelDue_.reset();  // a new sender: whatever came before was not its
            // A sender that starts over begins a batch of its own.
            afterDelivery_ = false;
            state_ = State::kSession;
            retries_ = 0;
            Say(ZmodemReadyHeader(), now);
            return;
        case FrameType::kSInit:
            dataFor_ = header;
            return;
        case FrameType::kFile:
            if (state_ == State::kComplete) {
                // The batch's next file, for the next session to answer: its
                // information follows.
                if (lastEnding_) lastEnding_->senderWaits = true;
                dataFor_ = header;
            } else if (state_ == State::kIdle) {
                cancelDue_.reset();  // a new sender's offer
                // It offers a file without having heard what we can take.
                state_ = State::kSession;
                Say(ZmodemReadyHeader(), now);
                scanner_.SkipData();
            } else {
                dataFor_ = header;
            }
            return;
        case FrameType::kData:
            if (state_ == State::kReceiving && header.Position() == received_) {
                inStep_ = true;
                positionRequested_ = false;
                dataFor_ = header;
                deadline_ = now + kFrameTimeout;
            } else if (state_ == State::kReceiving) {
                scanner_.SkipData();
                RequestPosition(now);
            } else {
                scanner_.SkipData();
                if (state_ == State::kIdle || state_ == State::kSession) {
                    // Data of a transfer that this session does not hold:
                    // the sender is told it is over.
                    CancelAtQuiet(now);
                }
            }
            return;
        case FrameType::kEof:
            HandleEndOfFile(header.Position(), now);
            return;
        case FrameType::kFin:
            HandleEndOfSession(now);
            return;
        case FrameType::kCommand:
            scanner_.SkipData();
            Refuse("the sender asked to run a command", now);
            return;
        case FrameType::kNak:
            // The sender could not read our last header: it is said again,
            // and each counts as an error.
            if (state_ == State::kIdle || !lastSaid_) {
                return;
            }
            if (!Retry(now)) {
                if (TransferInProgress()) {
                    Abandon(Kind::kGivenUp, now);
                } else if (state_ == State::kSession) {
                    state_ = State::kIdle;
                }
                return;
            }
            Say(*lastSaid_, now);
            return;
        case FrameType::kCrc:
            if (state_ == State::kCheckingPart) {
                CheckPart(header.Position(), now);
            }
            return;
        case FrameType::kFreeCnt:
            output_ += EncodeHexHeader(ZmodemHeader::At(FrameType::kAck, 0));
            return;
        case FrameType::kAbort:
        case FrameType::kFErr:
            if (TransferInProgress()) {
                Abandon(Kind::kAbortedBySender, now);
            }
            output_ += EncodeHexHeader(ZmodemHeader::At(FrameType::kFin, 0));
            state_ = State::kIdle;
            return;
        default:
            // A receiver's frames (an echo of our own, or another receiver
            // on the line) and what a sender never sends: nothing to answer.
            return;
    }
}

void ZmodemReceiver::HandleData(const Event& event, Time now) {
    if (!dataFor_) {
        return;
    }
    const ZmodemHeader header = *dataFor_;
    if (event.end == kCrcEnd || event.end == kCrcWait) {
        dataFor_.reset();  // the frame ends here
    }
    switch (header.type) {
        case FrameType::kSInit:
            // Its options ask nothing of a receiver that sends hex headers.
            output_ += EncodeHexHeader(ZmodemHeader::At(FrameType::kAck, 0));
            if (state_ == State::kIdle) {
                state_ = State::kSession;
                deadline_ = now + kFrameTimeout;
            }
            return;
        case FrameType::kFile:
            if (state_ == State::kComplete) {
                if (lastEnding_) {
                    lastEnding_->next = event.data;
                    lastEnding_->nextOption = header.Flag(0);
                }
                return;
            }
            OfferFile(event.data, header.Flag(0), now);
            return;
        case FrameType::kData:
            TakeData(event, now);
            return;
        default:
            return;
    }
}

void ZmodemReceiver::HandleEndOfFile(std::uint32_t position, Time now) {
    const bool endsDelivered = lastEnding_ && lastEnding_->delivered &&
                               lastEnding_->protocol == LineProtocol::kZmodem &&
                               lastEnding_->bytes == position &&
                               now - lastEnding_->at <= kEndRepeatWindow;
    switch (state_) {
        case State::kReceiving:
            if (position == received_) {
                if (file_->size && received_ < *file_->size) {
                    Abandon(Kind::kShortFile, now);
                } else {
                    Deliver(now);
                }
            } else if (position > received_) {
                RequestPosition(now);  // data went missing on the way
            }
            // An end behind our position was sent before our last request.
            return;
        case State::kComplete:
            if (endsDelivered) {
                output_ += EncodeHexHeader(ZmodemReadyHeader());  // our answer was lost
                lastEnding_->senderWaits = true;
            }
            return;
        case State::kIdle:
        case State::kSession:
            if (endsDelivered) {
                // The sender of the stored file missed our answer, and this
                // session may take its next file.
                afterDelivery_ = true;
                state_ = State::kSession;
                Say(ZmodemReadyHeader(), now);
            } else {
                // The end of a transfer that was not stored, or that nothing
                // here knows of: the sender fails and sends the file again.
                CancelAtQuiet(now);
            }
            return;
        case State::kCheckingPart:
            return;
    }
}

void ZmodemReceiver::Tick(Time now) {
    if (cancelDue_ && now >= std::max(*cancelDue_, lastByte_ + kByteTimeout)) {
        cancelDue_.reset();
        SendCancel();
    }
    if (overDue_ && now >= *overDue_) {
        if (std::exchange(overRepeated_, true)) {
            // Still no "OO": the line owes it a quiet spell (overAwaited).
            overDue_.reset();
        } else {
            output_ += EncodeHexHeader(ZmodemHeader::At(FrameType::kFin, 0));
            overDue_ = now + kByteTimeout;
        }
    }
    if (state_ == State::kIdle || state_ == State::kComplete || now < deadline_) {
        return;
    }
    switch (state_) {
        case State::kReceiving:
            if (!SilentRetry()) {
                Abandon(Kind::kGivenUp, now);  // what came of it is kept
                return;
            }
            positionRequested_ = false;
            RequestPosition(now);
            return;
        case State::kCheckingPart:
            if (++crcRequests_ >= kCrcRequests) {
                CheckPart(std::nullopt, now);
            } else {
                Say(*lastSaid_, now);
            }
            return;
        case State::kSession:
            if (!SilentRetry() || !Retry(now)) {
                state_ = State::kIdle;  // the sender has gone
            } else {
                Say(lastSaid_ ? *lastSaid_ : ZmodemReadyHeader(), now);
            }
            return;
        case State::kIdle:
        case State::kComplete:
            return;
    }
}

std::optional<ZmodemReceiver::Time> ZmodemReceiver::NextDeadline() const {
    std::optional<Time> due = overDue_;
    if (cancelDue_) {
        const Time at = std::max(*cancelDue_, lastByte_ + kByteTimeout);
        due = due ? std::min(*due, at) : at;
    }
    if (state_ != State::kIdle && state_ != State::kComplete) {
        due = due ? std::min(*due, deadline_) : deadline_;
    }
    return due;
}

std::string ZmodemReceiver::TakeOutput() {
    return std::exchange(output_, {});
}

std::optional<TransferOutcome> ZmodemReceiver::TakeOutcome() {
    if (outcomes_.empty()) {
        return std::nullopt;
    }
    TransferOutcome outcome = std::move(outcomes_.front());
    outcomes_.pop_front();
    return outcome;
}

bool ZmodemReceiver::TransferInProgress() const {
    return state_ == State::kCheckingPart || state_ == State::kReceiving;
}

void ZmodemReceiver::Cancel(Time now) {
    scanner_.Clear();
    if (TransferInProgress()) {
        Abandon(Kind::kStopped, now);
    }
}

void ZmodemReceiver::Say(const ZmodemHeader& header, Time now) {
    output_ += EncodeHexHeader(header);
    lastSaid_ = header;
    saidAt_ = now;
    deadline_ = now + (header.type == FrameType::kCrc ? kCrcAnswerTimeout : kFrameTimeout);
}

void ZmodemReceiver::SayAgain(Time now) {
    if (now - saidAt_ >= kByteTimeout || !lastSaid_) {
        Say(lastSaid_ ? *lastSaid_ : ZmodemReadyHeader(), now);
    } else {
        // Said just now, in answer to what came before the damage: said
        // again once the line has had a moment.
        deadline_ = std::min(deadline_, saidAt_ + kByteTimeout);
    }
}

bool ZmodemReceiver::SilentRetry() {
    return ++silentRetries_ <= kSilentRetries;
}

void ZmodemReceiver::RequestPosition(Time now) {
    inStep_ = false;
    if (positionRequested_) {
        return;  // asked already: what is still on its way is passed over
    }
    if (!Retry(now)) {
        Abandon(Kind::kGivenUp, now);
        return;
    }
    positionRequested_ = true;
    Say(ZmodemHeader::At(FrameType::kRPos, static_cast<std::uint32_t>(received_)), now);
}

bool ZmodemReceiver::Retry(Time /*now*/) {
    return ++retries_ <= kMaxRetries;
}

void ZmodemReceiver::CancelAtQuiet(Time now) {
    // What a sender that went on sending into a dead line had on its way may
    // arrive just before a new sender's request: the cancel waits for the
    // line to be quiet, and goes only if no new session began meanwhile.
    state_ = State::kIdle;
    cancelDue_ = now + kByteTimeout;
}

void ZmodemReceiver::SendCancel() {
    output_.append(kCancelSequence);
}

}  // namespace vorlund
