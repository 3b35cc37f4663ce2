// The ZMODEM session around its files: how it begins (asked, invited, or
// going on from the session before), how it ends, and how it gives the line
// up to a new sender.
#include <algorithm>
#include <utility>

#include "download/zmodem/zmodem_receiver.h"

namespace vorlund {
namespace {

using namespace zmodem;
using Kind = TransferOutcome::Kind;

}  // namespace

void ZmodemReceiver::Invited(Time now) {
    state_ = State::kSession;
    lastSaid_ = ZmodemReadyHeader();
    saidAt_ = now;
    deadline_ = now + kFrameTimeout;
}

void ZmodemReceiver::GoOn(const TransferEnding& previous, Time now) {
    // It waits until it is heard from (HandleHeader).
    lastEnding_ = previous;
    // Its file was delivered: what it sends next continues its batch.
    afterDelivery_ = true;
    state_ = State::kSession;
    if (!previous.next.empty()) {
        OfferFile(previous.next, previous.nextOption, now);
    } else {
        Say(ZmodemReadyHeader(), now);
    }
}

void ZmodemReceiver::HandleEndOfSession(Time now) {
    if (TransferInProgress()) {
        Abandon(Kind::kAbortedBySender, now);
    }
    // Said once more only if the sender's "OO" does not come.
    output_ += EncodeHexHeader(ZmodemHeader::At(FrameType::kFin, 0));
    overDue_ = now + kByteTimeout;
    overRepeated_ = false;
    if (std::exchange(afterDelivery_, false)) {
        // It ends its session after a file delivered: it heard the end of
        // each file of its batch.
        sink_.BatchEnded(true);
    } else if (!lastEnding_ && !offered_) {
        // Nothing of it was heard here: it may end a batch delivered before
        // the service started again.
        sink_.BatchEnded(false);
    }
    sessionEnded_ = true;
    if (lastEnding_) {
        lastEnding_->senderWaits = false;
        lastEnding_->overAwaited = true;
    }
    // A session whose file is in takes no other sender's: the next session,
    // after the delivery's conversion, does.
    if (state_ != State::kComplete) {
        state_ = State::kIdle;
    }
}

void ZmodemReceiver::TakeNextFile(Time now) {
    if (state_ != State::kComplete) {
        return;
    }
    state_ = State::kSession;
    deadline_ = now + kFrameTimeout;
    // It still owes its next word to our answer, which may have been lost:
    // senderWaits holds until it speaks.
    if (lastEnding_) {
        if (!lastEnding_->next.empty()) {
            const std::string offer = std::exchange(lastEnding_->next, {});
            OfferFile(offer, lastEnding_->nextOption, now);
        }
    }
}

std::optional<ZmodemReceiver::Time> ZmodemReceiver::SilentFrom() const {
    switch (state_) {
        case State::kSession:
            // A sender that reads our ready header after its offer (the
            // offer came damaged, or we said it again) sends the offer again
            // only once the line has been quiet for five seconds (lrzsz's
            // does): no invitation goes out that soon after one.
            return std::max(lastByte_ + kSenderSilentAfter, saidAt_ + kQuietAfterReady);
        case State::kCheckingPart:
        case State::kReceiving:
            // ZCRC and ZRPOS are answered at once, whatever else the line
            // carries.
            return lastByte_ + kSenderSilentAfter;
        case State::kIdle:
        case State::kComplete:
            break;
    }
    return std::nullopt;
}

void ZmodemReceiver::GiveWay(Time now) {
    scanner_.Clear();
    if (TransferInProgress()) {
        Abandon(Kind::kSenderReplaced, now);
    }
    state_ = State::kIdle;
}

bool ZmodemReceiver::TakeSessionEnded() {
    return std::exchange(sessionEnded_, false);
}

}  // namespace vorlund
