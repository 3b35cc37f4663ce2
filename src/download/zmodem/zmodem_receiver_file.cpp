// The file of a ZMODEM transfer: its offer, the proof of a part kept from
// before, its data, and how it is delivered or abandoned.
#include <utility>

#include "download/zmodem/zmodem_receiver.h"

namespace vorlund {
namespace {

using namespace zmodem;
using Kind = TransferOutcome::Kind;

bool SameFile(const FileOffer& a, const FileOffer& b) {
    return a.name == b.name && a.size == b.size && a.modified == b.modified;
}

}  // namespace

void ZmodemReceiver::OfferFile(std::string_view info, std::uint8_t conversion, Time now) {
    offered_ = true;
    const std::optional<FileOffer> header = ParseFileOffer(info);
    if (!TransferInProgress()) {
        // It offers this file only once it heard our answer to the end of
        // the one before, unless that was its batch's last.
        continuesBatch_ = std::exchange(afterDelivery_, false) &&
                          !(lastEnding_ && lastEnding_->lastOfBatch);
    }
    if (TransferInProgress() && header && SameFile(*header, *file_)) {
        // Our answer to the offer was lost: it is given again.
        Say(*lastSaid_, now);
        return;
    }
    if (TransferInProgress()) {
        // It has given up the file we were taking and offers one anew.
        Abandon(Kind::kSenderReplaced, now);
    }
    if (!header) {
        Abandon(Kind::kProtocolError, now);
        return;
    }
    // A transfer begins: whatever ended before is no longer the line's last
    // word, so a lone end of file from now on cannot be its repeat.
    lastEnding_.reset();
    file_ = header;
    state_ = State::kCheckingPart;  // a transfer, from here on, until it begins or ends
    if (header->size && *header->size > largestFile_) {
        Abandon(Kind::kTooLarge, now);
        return;
    }
    if (conversion == kResume && header->size) {
        // A part longer than the file offered is none of it.
        part_ = sink_.FindStagedPart(*header);
        if (part_ && part_->bytes > 0 && part_->bytes <= largestFile_ &&
            part_->bytes <= *header->size) {
            crcRequests_ = 0;
            Say(ZmodemHeader::At(FrameType::kCrc, static_cast<std::uint32_t>(part_->bytes)), now);
            return;
        }
    }
    part_.reset();
    BeginFile(false, now);
}

void ZmodemReceiver::CheckPart(std::optional<std::uint32_t> crc, Time now) {
    // Only the CRC of the sender's own bytes proves the part its own; a
    // sender that gives none sends its file from the first byte.
    BeginFile(crc && *crc == part_->crc32, now);
}

void ZmodemReceiver::BeginFile(bool resume, Time now) {
    Status begun = resume ? sink_.Continue(*file_, continuesBatch_) : sink_.Begin(*file_, continuesBatch_);
    if (!begun && resume) {
        resume = false;
        begun = sink_.Begin(*file_, continuesBatch_);
    }
    if (!begun) {
        Abandon(Kind::kRefused, now, begun.reason());
        return;
    }
    sinkOpen_ = true;
    received_ = resumedFrom_ = resume ? part_->bytes : 0;
    part_.reset();
    retries_ = 0;
    inStep_ = false;
    state_ = State::kReceiving;
    Say(ZmodemHeader::At(FrameType::kRPos, static_cast<std::uint32_t>(received_)), now);
    // Data that is not at this position is passed over until the sender
    // has heard it.
    positionRequested_ = true;
}

void ZmodemReceiver::TakeData(const Event& event, Time now) {
    if (state_ != State::kReceiving || !inStep_) {
        return;
    }
    const std::uint64_t after = received_ + event.data.size();
    if (after > largestFile_) {
        Abandon(Kind::kTooLarge, now);
        return;
    }
    if (file_->size && after > *file_->size) {
        // A file that grew while it was sent: both sides must agree it has
        // not arrived, so the terminal sends it again, whole.
        Abandon(Kind::kLongerThanAnnounced, now);
        return;
    }
    if (Status written = sink_.Write(event.data); !written) {
        Abandon(Kind::kNotStored, now, written.reason());
        return;
    }
    received_ = after;
    retries_ = 0;
    deadline_ = now + kFrameTimeout;
    if (event.end == kCrcQuestion || event.end == kCrcWait) {
        output_ += EncodeHexHeader(ZmodemHeader::At(FrameType::kAck, static_cast<std::uint32_t>(received_)));
    }
}

void ZmodemReceiver::Deliver(Time now) {
    // The sender hears that the file has arrived (our next ZRINIT) only once
    // it is safe: a file that cannot be kept is cancelled, so the terminal
    // still holds it.
    Result<TransferSink::Kept> kept = sink_.End();
    sinkOpen_ = false;
    if (!kept) {
        Abandon(Kind::kNotStored, now, kept.reason());
        return;
    }
    TransferOutcome outcome = Outcome(Kind::kFileReceived);
    outcome.repeated = *kept == TransferSink::Kept::kRepeated;
    outcomes_.push_back(std::move(outcome));
    Say(ZmodemReadyHeader(), now);
    lastEnding_ = TransferEnding{true, now, LineProtocol::kZmodem, received_, true};
    lastEnding_->lastOfBatch = file_->filesLeft == 1U;
    afterDelivery_ = true;
    state_ = State::kComplete;
    ResetFile();
}

void ZmodemReceiver::Abandon(Kind kind, Time now, std::string reason) {
    if (kind != Kind::kAbortedBySender && kind != Kind::kSenderReplaced) {
        SendCancel();
    }
    if (sinkOpen_) {
        // What was written is checked data; a transfer cut off may go on
        // later from there, one that failed may not.
        const bool cutOff = kind == Kind::kStopped || kind == Kind::kGivenUp ||
                            kind == Kind::kAbortedBySender || kind == Kind::kSenderReplaced;
        if (cutOff) {
            sink_.Suspend();
        } else {
            sink_.Discard();
        }
        sinkOpen_ = false;
    }
    outcomes_.push_back(Outcome(kind, std::move(reason)));
    // Stopped (the line went, or the reception), it may wait for an answer
    // to what it sent last, which would never come.
    lastEnding_ = TransferEnding{false, now, LineProtocol::kZmodem, 0, kind == Kind::kStopped};
    afterDelivery_ = false;
    state_ = State::kIdle;
    ResetFile();
}

void ZmodemReceiver::Refuse(std::string reason, Time now) {
    if (TransferInProgress()) {
        Abandon(Kind::kProtocolError, now);
    } else {
        SendCancel();
    }
    outcomes_.push_back(Outcome(Kind::kRefused, std::move(reason)));
    state_ = State::kIdle;
}

void ZmodemReceiver::ResetFile() {
    file_.reset();
    received_ = 0;
    resumedFrom_ = 0;
    inStep_ = false;
    positionRequested_ = false;
    part_.reset();
    retries_ = 0;
    dataFor_.reset();
}

TransferOutcome ZmodemReceiver::Outcome(Kind kind, std::string reason) const {
    TransferOutcome outcome{kind, {}, received_, false, {}, {}, std::move(reason),
                            LineProtocol::kZmodem, resumedFrom_};
    if (file_) {
        outcome.name = file_->name;
        outcome.size = file_->size;
        outcome.modified = file_->modified;
    }
    return outcome;
}

}  // namespace vorlund
