#include "download/protocol_recogniser.h"

#include <algorithm>
#include <utility>

#include "download/blocks/block_bytes.h"
#include "download/xmodem/xmodem_receiver.h"
#include "download/ymodem/ymodem_session.h"
#include "download/zmodem/zmodem_frame_scanner.h"

namespace vorlund {
namespace {

using Event = BlockScanner::Event;

// ZMODEM's: ten CAN and as many backspaces.
constexpr std::string_view kZmodemCancel =
    "\x18\x18\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b\b\b";

}  // namespace

ProtocolRecogniser::ProtocolRecogniser(Time now, TransferSink& sink,
                                       std::optional<TransferEnding> lastEnding,
                                       std::uint64_t largestFile, ProtocolChoice choice,
                                       bool quietSpell)
    : sink_(sink),
      largestFile_(largestFile),
      choice_(choice),
      lastEnding_(lastEnding),
      lastByte_(now),
      rhythm_(choice) {
    rhythm_.SetQuietSpellDue((quietSpell && choice_ != ProtocolChoice::kZmodem) ||
                             QuietSpellOwed());
    if (lastEnding_ && lastEnding_->protocol == LineProtocol::kZmodem &&
        std::exchange(lastEnding_->overAwaited, false)) {
        // Its end of session was answered, but it may not have heard.
        output_ += EncodeHexHeader(ZmodemHeader::At(zmodem::FrameType::kFin, 0));
    }
    if (lastEnding_ && lastEnding_->protocol == LineProtocol::kZmodem &&
        lastEnding_->senderWaits && Takes(LineProtocol::kZmodem)) {
        if (lastEnding_->delivered) {
            // Its file is in, and it waits for an answer to what it sent next.
            auto zmodem = std::make_unique<ZmodemReceiver>(now, sink_, largestFile_);
            ZmodemReceiver& receiver = *zmodem;
            Handover(std::move(zmodem), LineProtocol::kZmodem, {}, now);
            receiver.GoOn(*lastEnding_, now);
            AfterReceiver(now);
            return;
        }
        // Its transfer was cut off (the line went): told that it failed, it
        // sends again, and offers to continue from what was kept of it.
        output_.append(kZmodemCancel);
        lastEnding_->senderWaits = false;
    }
    output_ += rhythm_.Invite(now);
}

ProtocolRecogniser::~ProtocolRecogniser() = default;

void ProtocolRecogniser::Receive(std::string_view bytes, Time now) {
    if (bytes.empty()) {
        return;
    }
    if (active_ && (!probe_.Empty() || SenderSilent(now))) {
        ReceiveAfterSilence(bytes, now, false);
        return;
    }
    if (!active_ && now - lastByte_ >= kByteTimeout) {
        // Whatever was due in the silence comes first, and the new bytes
        // start afresh; no invitation goes out over a sender that speaks.
        SettleQuiet(now);
        if (active_) {
            active_->Receive(bytes, now);
            AfterReceiver(now);
            return;
        }
        scanner_.AfterSilence();
    }
    if (zmodem_ && zmodem_->AwaitingOffer()) {
        // Looked at as blocks too: a header or first block takes the line.
        scanner_.Append(bytes);
        lastByte_ = now;
        if (TakeFallenBackSender(now, false)) {
            return;
        }
    }
    if (active_) {
        active_->Receive(bytes, now);
        AfterReceiver(now);
        return;
    }
    lastByte_ = now;
    loneEnd_ = false;  // something followed it
    held_.append(bytes);
    Recognise(now, false);
}

bool ProtocolRecogniser::TakeFallenBackSender(Time now, bool quiet) {
    scanner_.Expect(1);
    while (std::optional<Event> event = quiet ? scanner_.NextAtQuiet() : scanner_.Next()) {
        if (event->kind == Event::Kind::kBlock && event->number <= 1) {
            active_.reset();
            zmodem_ = nullptr;
            held_.clear();
            ScanBlock(std::move(*event), now);
            return true;
        }
    }
    return false;
}

void ProtocolRecogniser::ReceiveAfterSilence(std::string_view bytes, Time now, bool quiet) {
    probe_.Append(bytes, now);
    const auto takes = [this](LineProtocol protocol) { return Takes(protocol); };
    switch (probe_.Decide(quiet, *active_, *protocol_, takes)) {
        case NewSenderProbe::Verdict::kUndecided:
            return;
        case NewSenderProbe::Verdict::kOldSender:
            invitingAlongside_ = false;
            active_->Receive(probe_.TakeAll(), now);
            AfterReceiver(now);
            return;
        case NewSenderProbe::Verdict::kNewSender: {
            std::string held = probe_.TakeNewSender();
            invitingAlongside_ = false;
            active_->GiveWay(now);
            AfterReceiver(now);
            // Whatever it was doing, the old receiver has let go of the line.
            active_.reset();
            zmodem_ = nullptr;
            protocol_.reset();
            scanner_.Clear();
            held_ = std::move(held);
            lastByte_ = now;
            Recognise(now, quiet);
            return;
        }
    }
}

bool ProtocolRecogniser::SenderSilent(Time now) const {
    const std::optional<Time> silent = active_ ? active_->SilentFrom() : std::nullopt;
    return silent && now >= *silent;
}

void ProtocolRecogniser::Handover(std::unique_ptr<ProtocolReceiver> receiver,
                                  LineProtocol protocol, std::string bytes, Time now) {
    if (lastEnding_ && lastEnding_->protocol == protocol) {
        receiver->RememberEnding(*lastEnding_);
    }
    zmodem_ = protocol == LineProtocol::kZmodem ? static_cast<ZmodemReceiver*>(receiver.get())
                                                : nullptr;
    active_ = std::move(receiver);
    protocol_ = protocol;
    rhythm_.SetQuietSpellDue(false);  // a sender speaks: whoever waited started over, or went
    held_.clear();
    scanner_.Clear();
    loneEnd_ = false;
    inviteAtQuiet_ = false;
    invitingAlongside_ = false;
    if (!bytes.empty()) {
        active_->Receive(bytes, now);
    }
    // A receiver not fed yet holds its first frames still to come.
    if (!bytes.empty() || !active_->Idle()) {
        AfterReceiver(now);
    }
}

void ProtocolRecogniser::AfterReceiver(Time now) {
    output_ += active_->TakeOutput();
    while (std::optional<TransferOutcome> outcome = active_->TakeOutcome()) {
        outcomes_.push_back(std::move(*outcome));
    }
    if (!active_->Idle()) {
        return;
    }
    if (const std::optional<TransferEnding> ending = active_->LastEnding()) {
        lastEnding_ = ending;
        rhythm_.SetQuietSpellDue(QuietSpellOwed());
    }
    active_.reset();
    zmodem_ = nullptr;
    protocol_.reset();
    probe_.Clear();
    invitingAlongside_ = false;
    // A sender still busy with a cancelled transfer has a moment to give up
    // before the next invitation.
    rhythm_.Restart(now);
    lastByte_ = now;
}

bool ProtocolRecogniser::FrameArriving(Time now) const {
    // Or a sender waits for our answer to what came: its end, its damaged
    // block, which the line's quiet settles.
    const bool pending =
        !held_.empty() || scanner_.HasPending() || !probe_.Empty() || loneEnd_ || inviteAtQuiet_;
    return pending && now - std::max(lastByte_, probe_.LastByte()) < kByteTimeout;
}

void ProtocolRecogniser::InviteWhenDue(Time now) {
    if (!rhythm_.Due(now)) {
        return;
    }
    if (FrameArriving(now)) {
        rhythm_.PostponeTo(std::max(lastByte_, probe_.LastByte()) + kByteTimeout);
        return;
    }
    output_ += rhythm_.Invite(now);
}

void ProtocolRecogniser::Tick(Time now) {
    if (active_) {
        if (!probe_.Empty() && now - probe_.LastByte() >= kByteTimeout) {
            ReceiveAfterSilence({}, now, true);
            if (!active_) {
                return;
            }
        }
        if (zmodem_ && zmodem_->AwaitingOffer() && scanner_.HasPending() &&
            now - lastByte_ >= kByteTimeout && TakeFallenBackSender(now, true)) {
            // A header with the checksum shows itself only once the line is
            // quiet (it is a byte shorter than one with the CRC).
            return;
        }
        active_->Tick(now);
        AfterReceiver(now);
        // A line fixed to ZMODEM is not invited over a ZMODEM transfer: its
        // invitation would tell the sender its file is in.
        if (active_ && SenderSilent(now) && choice_ != ProtocolChoice::kZmodem) {
            if (!invitingAlongside_) {
                invitingAlongside_ = true;
                rhythm_.StartRound(now);
            }
            InviteWhenDue(now);
        } else {
            invitingAlongside_ = false;  // the receiver wants the line quiet
        }
        return;
    }
    if (now - lastByte_ >= kByteTimeout) {
        SettleQuiet(now);
        if (active_) {
            return;
        }
    }
    InviteWhenDue(now);
}

void ProtocolRecogniser::SettleQuiet(Time now) {
    if (!held_.empty() || scanner_.HasPending()) {
        Recognise(now, true);
        if (active_) {
            return;
        }
    }
    if (std::exchange(loneEnd_, false)) {
        AnswerLoneEnd(now);
        // An invitation hard behind the answer would be read as a second.
        rhythm_.Restart(now);
    }
    if (std::exchange(inviteAtQuiet_, false)) {
        output_ += rhythm_.Invite(now);
    }
}

std::optional<ProtocolRecogniser::Time> ProtocolRecogniser::NextDeadline() const {
    if (active_) {
        std::optional<Time> due = active_->NextDeadline();
        const auto earliest = [&due](Time at) { due = due ? std::min(*due, at) : at; };
        if (!probe_.Empty()) {
            earliest(probe_.LastByte() + kByteTimeout);
        }
        if (zmodem_ && zmodem_->AwaitingOffer() && scanner_.HasPending()) {
            earliest(lastByte_ + kByteTimeout);
        }
        if (const std::optional<Time> silent = active_->SilentFrom();
            silent && choice_ != ProtocolChoice::kZmodem) {
            earliest(invitingAlongside_ ? std::max(rhythm_.NextAt(), *silent) : *silent);
        }
        return due;
    }
    Time due = rhythm_.NextAt();
    if (!held_.empty() || scanner_.HasPending() || loneEnd_ || inviteAtQuiet_) {
        due = std::min(due, lastByte_ + kByteTimeout);
    }
    return due;
}

std::string ProtocolRecogniser::TakeOutput() {
    if (active_) {
        output_ += active_->TakeOutput();
    }
    return std::exchange(output_, {});
}

std::optional<TransferOutcome> ProtocolRecogniser::TakeOutcome() {
    if (outcomes_.empty()) {
        return std::nullopt;
    }
    TransferOutcome outcome = std::move(outcomes_.front());
    outcomes_.pop_front();
    return outcome;
}

bool ProtocolRecogniser::TransferInProgress() const {
    return active_ && active_->TransferInProgress();
}

void ProtocolRecogniser::Cancel(Time now) {
    held_.clear();
    scanner_.Clear();
    probe_.Clear();
    loneEnd_ = false;
    if (active_) {
        active_->Cancel(now);
        AfterReceiver(now);
    }
}

void ProtocolRecogniser::TakeNextFile(Time now) {
    if (active_) {
        active_->TakeNextFile(now);
        AfterReceiver(now);
    }
}

std::optional<TransferEnding> ProtocolRecogniser::LastEnding() const {
    return active_ ? active_->LastEnding() : lastEnding_;
}

void ProtocolRecogniser::RememberEnding(TransferEnding ending) {
    lastEnding_ = ending;
    if (active_) {
        active_->RememberEnding(ending);
    }
}

bool ProtocolRecogniser::QuietSpellOwed() const {
    return lastEnding_ && lastEnding_->protocol == LineProtocol::kZmodem &&
           (lastEnding_->senderWaits || lastEnding_->overAwaited) &&
           choice_ != ProtocolChoice::kZmodem;
}

bool ProtocolRecogniser::Takes(LineProtocol protocol) const {
    switch (choice_) {
        case ProtocolChoice::kAuto:
            return true;
        case ProtocolChoice::kZmodem:
            return protocol == LineProtocol::kZmodem;
        case ProtocolChoice::kYmodem:
            return protocol == LineProtocol::kYmodem;
        case ProtocolChoice::kXmodem:
            return protocol == LineProtocol::kXmodem;
    }
    return true;
}

std::size_t ProtocolRecogniser::HeldBytes() const {
    return (active_ ? active_->HeldBytes() : held_.capacity()) + probe_.Capacity();
}

}  // namespace vorlund
