#include "download/protocol_recogniser.h"

#include <algorithm>
#include <utility>

#include "download/blocks/block_bytes.h"
#include "download/xmodem/xmodem_receiver.h"
#include "download/ymodem/ymodem_receiver.h"
#include "download/zmodem/zmodem_frame_scanner.h"

namespace vorlund {
namespace {

using Event = BlockScanner::Event;

constexpr std::string_view kCancelSequence = "\x18\x18\x18\x18\x18\x18\x18\x18";
// ZMODEM's: ten CAN and as many backspaces.
constexpr std::string_view kZmodemCancel =
    "\x18\x18\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b\b\b";
// Longer than any ZMODEM header, escapes included.
constexpr std::size_t kLongestHeader = 32;

const std::string& ZmodemInvitation() {
    static const std::string invitation = EncodeHexHeader(ZmodemHeader::WithFlags(
        zmodem::FrameType::kRInit, zmodem::kCanFullDuplex | zmodem::kCanOverlapIo |
                                       zmodem::kCanCrc32));
    return invitation;
}

// The YMODEM receiver as one receiver among others. It holds the sender
// from its header to the end of its batch, or until its transfer fails.
class YmodemSession final : public ProtocolReceiver {
  public:
    YmodemSession(Time now, TransferSink& sink, std::uint64_t largestFile)
        : receiver_(now, sink, largestFile) {
        receiver_.TakeOutput();  // the line has been invited already
    }

    void Receive(std::string_view bytes, Time now) override { receiver_.Receive(bytes, now); }
    void Tick(Time now) override { receiver_.Tick(now); }
    std::optional<Time> NextDeadline() const override { return receiver_.NextDeadline(); }
    std::string TakeOutput() override { return receiver_.TakeOutput(); }
    std::optional<TransferOutcome> TakeOutcome() override {
        std::optional<TransferOutcome> outcome = receiver_.TakeOutcome();
        if (outcome && outcome->kind == TransferOutcome::Kind::kFileReceived) {
            complete_ = true;  // its batch's end is still to be answered
        }
        return outcome;
    }
    bool TransferInProgress() const override { return receiver_.TransferInProgress(); }
    bool Idle() const override { return !complete_ && !receiver_.TransferInProgress(); }
    void Cancel(Time now) override { receiver_.Cancel(now); }
    void TakeNextFile(Time now) override {
        receiver_.TakeNextFile(now);
        complete_ = false;
    }
    std::optional<TransferEnding> LastEnding() const override { return receiver_.LastEnding(); }
    void RememberEnding(TransferEnding ending) override { receiver_.RememberEnding(ending); }
    std::size_t HeldBytes() const override { return receiver_.HeldBytes(); }
    std::optional<Time> SilentFrom() const override { return receiver_.SilentFrom(); }
    bool ClaimsBlock(std::uint8_t number, std::string_view payload) const override {
        return receiver_.ClaimsBlock(number, payload);
    }
    void GiveWay(Time now) override { receiver_.GiveWay(now); }

  private:
    YmodemReceiver receiver_;
    bool complete_ = false;
};

}  // namespace

ProtocolRecogniser::ProtocolRecogniser(Time now, TransferSink& sink,
                                       std::optional<TransferEnding> lastEnding,
                                       std::uint64_t largestFile, ProtocolChoice choice)
    : sink_(sink),
      largestFile_(largestFile),
      choice_(choice),
      lastEnding_(lastEnding),
      lastByte_(now) {
    quietSpellDue_ = ZmodemSenderMayWait(lastEnding_) && choice_ != ProtocolChoice::kZmodem;
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
            zmodem->GoOn(*lastEnding_, now);
            Handover(std::move(zmodem), LineProtocol::kZmodem, {}, now);
            return;
        }
        // Its transfer was cut off (the line went): told that it failed, it
        // sends again, and offers to continue from what was kept of it.
        output_.append(kZmodemCancel);
        lastEnding_->senderWaits = false;
    }
    Invite(now);
}

ProtocolRecogniser::~ProtocolRecogniser() = default;

void ProtocolRecogniser::Receive(std::string_view bytes, Time now) {
    if (bytes.empty()) {
        return;
    }
    if (active_ && (!probe_.empty() || SenderSilent(now))) {
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
        scanner_.Expect(1);
        while (std::optional<Event> event = scanner_.Next()) {
            if (event->kind == Event::Kind::kBlock && event->number <= 1) {
                active_.reset();
                zmodem_ = nullptr;
                held_.clear();
                ScanBlock(std::move(*event), now);
                return;
            }
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

void ProtocolRecogniser::ReceiveAfterSilence(std::string_view bytes, Time now, bool quiet) {
    probe_.append(bytes);
    if (!bytes.empty()) {
        probeByte_ = now;
    }
    std::size_t frameAt = 0;
    switch (Probe(quiet, frameAt)) {
        case Newcomer::kUndecided:
            return;
        case Newcomer::kOldSender: {
            const std::string held = std::exchange(probe_, {});
            invitingAlongside_ = false;
            active_->Receive(held, now);
            AfterReceiver(now);
            return;
        }
        case Newcomer::kNewSender: {
            const std::string held = std::exchange(probe_, {}).substr(frameAt);
            invitingAlongside_ = false;
            active_->GiveWay(now);
            AfterReceiver(now);
            // Whatever it was doing, the old receiver has let go of the line.
            active_.reset();
            zmodem_ = nullptr;
            protocol_.reset();
            scanner_.Clear();
            held_ = held;
            lastByte_ = now;
            Recognise(now, quiet);
            return;
        }
    }
}

ProtocolRecogniser::Newcomer ProtocolRecogniser::Probe(bool quiet, std::size_t& frameAt) const {
    // Only the first frame counts; what comes before it is the old sender's
    // (an end of transmission, noise) unless a new sender's frame follows.
    const std::size_t start = probe_.find_first_of(std::string_view("\x01\x02*", 3));
    if (start == std::string::npos) {
        return quiet || probe_.size() > kLongestHeader ? Newcomer::kOldSender
                                                       : Newcomer::kUndecided;
    }
    frameAt = start;
    const std::string_view frame = std::string_view(probe_).substr(start);
    if (frame[0] == zmodem::kPad) {
        if (protocol_ == LineProtocol::kZmodem || !Takes(LineProtocol::kZmodem)) {
            return Newcomer::kOldSender;  // its own receiver tells a new ZMODEM sender
        }
        ZmodemFrameScanner scanner;
        scanner.Append(frame.substr(0, kLongestHeader));
        if (const std::optional<ZmodemFrameScanner::Event> event = scanner.Next()) {
            const bool opens = event->kind == ZmodemFrameScanner::Event::Kind::kHeader &&
                               (event->header.type == zmodem::FrameType::kRqInit ||
                                event->header.type == zmodem::FrameType::kFile);
            return opens ? Newcomer::kNewSender : Newcomer::kOldSender;
        }
        return scanner.InFrame() && !quiet && frame.size() < kLongestHeader ? Newcomer::kUndecided
                                                                            : Newcomer::kOldSender;
    }
    BlockScanner scanner;
    scanner.Append(frame);
    scanner.Expect(1);
    const std::optional<Event> event = quiet ? scanner.NextAtQuiet() : scanner.Next();
    if (!event) {
        return Newcomer::kUndecided;
    }
    if (event->kind != Event::Kind::kBlock || event->number > 1 ||
        !Takes(event->number == 0 ? LineProtocol::kYmodem : LineProtocol::kXmodem) ||
        (protocol_ != LineProtocol::kZmodem && active_->ClaimsBlock(event->number, event->payload))) {
        return Newcomer::kOldSender;
    }
    return Newcomer::kNewSender;
}

bool ProtocolRecogniser::SenderSilent(Time now) const {
    const std::optional<Time> silent = active_ ? active_->SilentFrom() : std::nullopt;
    return silent && now >= *silent;
}

void ProtocolRecogniser::Recognise(Time now, bool quiet) {
    while (!active_ && !held_.empty()) {
        const std::size_t pad = held_.find(zmodem::kPad);
        if (pad != 0) {
            const std::size_t released = std::min(pad, held_.size());
            scanner_.Append(std::string_view(held_).substr(0, released));
            held_.erase(0, released);
            ScanBlocks(now, quiet);
            continue;
        }
        const std::optional<bool> zmodem = ZmodemHeaderAhead(quiet);
        if (!zmodem) {
            return;  // it may still become a header
        }
        if (*zmodem && Takes(LineProtocol::kZmodem)) {
            const std::string bytes = std::exchange(held_, {});
            auto receiver = std::make_unique<ZmodemReceiver>(now, sink_, largestFile_);
            if (choice_ == ProtocolChoice::kZmodem) {
                receiver->Invited(now);  // it may answer our ZRINIT with its offer
            }
            Handover(std::move(receiver), LineProtocol::kZmodem, {}, now);
            Receive(bytes, now);
            return;
        }
        scanner_.Append(std::string_view(held_).substr(0, 1));
        held_.erase(0, 1);
        ScanBlocks(now, quiet);
    }
    if (!active_) {
        ScanBlocks(now, quiet);
    }
}

std::optional<bool> ProtocolRecogniser::ZmodemHeaderAhead(bool quiet) const {
    ZmodemFrameScanner probe;
    probe.Append(std::string_view(held_).substr(0, kLongestHeader));
    if (const std::optional<ZmodemFrameScanner::Event> event = probe.Next()) {
        return event->kind == ZmodemFrameScanner::Event::Kind::kHeader;
    }
    if (!probe.InFrame() || quiet || held_.size() >= kLongestHeader) {
        return false;
    }
    return std::nullopt;
}

void ProtocolRecogniser::ScanBlocks(Time now, bool quiet) {
    while (!active_) {
        // A damaged block 1, or 0, is a sender waiting for an answer.
        scanner_.Expect(1);
        std::optional<Event> event = quiet ? scanner_.NextAtQuiet() : scanner_.Next();
        if (!event) {
            return;
        }
        const bool more = scanner_.HasPending() || !held_.empty();
        switch (event->kind) {
            case Event::Kind::kBlock:
                ScanBlock(std::move(*event), now);
                break;
            case Event::Kind::kEot:
                loneEnd_ = !more;
                break;
            case Event::Kind::kAbort:
                break;
            case Event::Kind::kNoise:
                loneEnd_ = false;
                inviteAtQuiet_ = inviteAtQuiet_ || event->damagedBlock;
                unrecognised_ += event->length;
                break;
        }
    }
}

void ProtocolRecogniser::ScanBlock(Event block, Time now) {
    loneEnd_ = false;
    if (block.number == 0 && Takes(LineProtocol::kYmodem)) {
        // A header: taken as a header with its CRC, whichever check it
        // came with.
        block.checksum = false;
        Handover(std::make_unique<YmodemSession>(now, sink_, largestFile_), LineProtocol::kYmodem,
                 BlockScanner::Frame(block) + scanner_.TakePending() + std::exchange(held_, {}),
                 now);
    } else if (block.number == 1 && Takes(LineProtocol::kXmodem)) {
        Handover(std::make_unique<XmodemReceiver>(now, sink_, largestFile_, block.checksum),
                 LineProtocol::kXmodem,
                 BlockScanner::Frame(block) + scanner_.TakePending() + std::exchange(held_, {}),
                 now);
    } else {
        // A block of a transfer this session does not hold (one that
        // failed, or began before a restart), or of a protocol the line is
        // not received with: it is over.
        unrecognised_ += BlockScanner::Frame(block).size();
        output_.append(kCancelSequence);
        RestartInvitations(now);
    }
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
    quietSpellDue_ = false;  // a sender speaks: whoever waited has started over or gone
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
        quietSpellDue_ = ZmodemSenderMayWait(lastEnding_) && choice_ != ProtocolChoice::kZmodem;
    }
    active_.reset();
    zmodem_ = nullptr;
    protocol_.reset();
    probe_.clear();
    invitingAlongside_ = false;
    // A sender still busy with a cancelled transfer has a moment to give up
    // before the next invitation.
    RestartInvitations(now);
    lastByte_ = now;
}

void ProtocolRecogniser::AnswerLoneEnd(Time now) {
    if (lastEnding_ && lastEnding_->delivered && lastEnding_->protocol != LineProtocol::kZmodem &&
        now - lastEnding_->at <= kEndRepeatWindow) {
        // The sender of the stored transfer still repeats its end.
        output_.push_back(kAck);
        lastEnding_->at = now;
        if (lastEnding_->protocol == LineProtocol::kYmodem) {
            output_.push_back(kCrcRequest);
        }
    } else {
        // The end of a transfer that was not stored, or that nothing here
        // knows of: the sender is told at once that it failed, and sends
        // the file again.
        output_.append(kCancelSequence);
    }
}

bool ProtocolRecogniser::FrameArriving(Time now) const {
    // Or a sender waits for our answer to what came: its end, its damaged
    // block, which the line's quiet settles.
    const bool pending =
        !held_.empty() || scanner_.HasPending() || !probe_.empty() || loneEnd_ || inviteAtQuiet_;
    return pending && now - std::max(lastByte_, probeByte_) < kByteTimeout;
}

void ProtocolRecogniser::InviteWhenDue(Time now) {
    if (now < nextInvitation_) {
        return;
    }
    if (FrameArriving(now)) {
        nextInvitation_ = std::max(lastByte_, probeByte_) + kByteTimeout;
        return;
    }
    Invite(now);
}

void ProtocolRecogniser::Invite(Time now) {
    switch (choice_) {
        case ProtocolChoice::kZmodem:
            output_ += ZmodemInvitation();
            nextInvitation_ = now + kZmodemInvitationInterval;
            return;
        case ProtocolChoice::kYmodem:
            output_.push_back(kCrcRequest);
            nextInvitation_ = now + (std::exchange(quietSpellDue_, false) ? kQuietSpell
                                                                        : kInvitationInterval);
            return;
        case ProtocolChoice::kAuto:
        case ProtocolChoice::kXmodem:
            break;
    }
    if (checksumInvitationNext_) {
        output_.push_back(kNak);
        nextInvitation_ = std::max(now, roundStarted_ + kInvitationInterval);
        if (std::exchange(quietSpellDue_, false)) {
            nextInvitation_ = now + kQuietSpell;
        }
    } else {
        output_.push_back(kCrcRequest);
        roundStarted_ = now;
        nextInvitation_ = now + kChecksumInvitationAfter;
    }
    checksumInvitationNext_ = !checksumInvitationNext_;
}

void ProtocolRecogniser::Tick(Time now) {
    if (active_) {
        if (!probe_.empty() && now - probeByte_ >= kByteTimeout) {
            ReceiveAfterSilence({}, now, true);
            if (!active_) {
                return;
            }
        }
        active_->Tick(now);
        AfterReceiver(now);
        // A line fixed to ZMODEM is not invited over a ZMODEM transfer: its
        // invitation would tell the sender its file is in.
        if (active_ && SenderSilent(now) && choice_ != ProtocolChoice::kZmodem) {
            if (!invitingAlongside_) {
                invitingAlongside_ = true;
                nextInvitation_ = now;
                checksumInvitationNext_ = false;
            }
            InviteWhenDue(now);
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
        RestartInvitations(now);
    }
    if (std::exchange(inviteAtQuiet_, false)) {
        Invite(now);
    }
}

void ProtocolRecogniser::RestartInvitations(Time now) {
    // What we just said answers the sender; an invitation hard behind it
    // would be read as a second answer.
    nextInvitation_ = now + kInvitationInterval;
    checksumInvitationNext_ = false;
}

std::optional<ProtocolRecogniser::Time> ProtocolRecogniser::NextDeadline() const {
    if (active_) {
        std::optional<Time> due = active_->NextDeadline();
        const auto earliest = [&due](Time at) { due = due ? std::min(*due, at) : at; };
        if (!probe_.empty()) {
            earliest(probeByte_ + kByteTimeout);
        }
        if (choice_ != ProtocolChoice::kZmodem) {
            if (invitingAlongside_) {
                earliest(nextInvitation_);
            } else if (const std::optional<Time> silent = active_->SilentFrom()) {
                earliest(*silent);
            }
        }
        return due;
    }
    Time due = nextInvitation_;
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
    probe_.clear();
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

bool ProtocolRecogniser::ZmodemSenderMayWait(const std::optional<TransferEnding>& ending) {
    return ending && ending->protocol == LineProtocol::kZmodem &&
           (ending->senderWaits || ending->overAwaited);
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
    return (active_ ? active_->HeldBytes() : held_.capacity()) + probe_.capacity();
}

}  // namespace vorlund
