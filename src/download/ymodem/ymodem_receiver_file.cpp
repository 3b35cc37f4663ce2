// The file of a transfer: its header, its blocks, its end, and how it is
// delivered or abandoned.
#include <algorithm>
#include <utility>

#include "download/blocks/block_bytes.h"
#include "download/file_offer.h"
#include "download/ymodem/ymodem_receiver.h"

namespace vorlund {

namespace {

using Kind = YmodemReceiver::Outcome::Kind;

bool AllPadding(std::string_view bytes) {
    return bytes.find_first_not_of(kPadding) == std::string_view::npos ||
           bytes.find_first_not_of('\0') == std::string_view::npos;
}

}  // namespace

void YmodemReceiver::HandleBlockZero(std::string_view payload, bool more, Time now) {
    const bool endOfBatch = payload[0] == '\0';
    switch (state_) {
        case State::kComplete:
            // Only the empty header that ends the batch is answered; the
            // header of a further file waits for the next session.
            NoteContinuation(payload);
            if (endOfBatch) {
                SendReply(Reply::kAck, now, false);
                EndBatch();
            }
            return;
        case State::kAwaitingHeader:
            NoteContinuation(payload);
            if (endOfBatch) {
                SendReply(Reply::kAck, now, false);
                deadline_ = now + kHeaderRequestInterval;
                EndBatch();
            } else {
                StartTransfer(payload, now);
            }
            return;
        case State::kReceiving:
        case State::kEotRefused:
            break;
    }
    if (!dataStarted_ && payload == header_) {
        if (lastByte_ - headerArrived_ < kByteTimeout) {
            // Copies of the header hard on its heels answer 'C's that waited
            // on the line before the sender started; the first was answered.
            pacing_.Dismiss();
            return;
        }
        // Our answer to the header was lost and the sender repeats it.
        SendReply(Reply::kAck, now, false);
        Send(kCrcRequest);
        headerArrived_ = lastByte_;
        return;
    }
    // The sender has left this file behind: it took some other answer for
    // our acknowledgement of its end, or it is a new sender.
    if (DataComplete() || (!announcedSize_ && (endOfBatch || state_ == State::kEotRefused))) {
        // Every block it sent is in, and it believes the file delivered.
        if (Deliver(now, false)) {
            HandleBlockZero(payload, more, now);
        }
    } else if (announcedSize_ && !endOfBatch && retries_ > 0) {
        // Short of its size, the file cannot be complete: its sender went
        // silent (we have asked again since its last block), and a new one
        // starts over.
        Abandon(Kind::kSenderReplaced, now);
        StartTransfer(payload, now);
    } else {
        // The file is incomplete, or without a size we cannot tell: the
        // transfer fails where the sender hears of it.
        Abandon(Kind::kProtocolError, now);
    }
}

void YmodemReceiver::StartTransfer(std::string_view payload, Time now) {
    const std::optional<FileOffer> header = ParseFileOffer(payload);
    if (!header) {
        SendReply(Reply::kNothing, now, false);
        Send(kNak);
        return;
    }
    const bool continuesBatch =
        lastEnding_ && lastEnding_->delivered && lastEnding_->next == payload;
    // A transfer begins: whatever ended before is no longer the line's last
    // word, so a lone end of transmission from now on cannot be its repeat.
    lastEnding_.reset();
    awaitingContinuation_ = false;
    name_ = header->name;
    announcedSize_ = header->size;
    filesLeft_ = header->filesLeft;
    modified_ = header->modified;
    if (header->size && *header->size > largestFile_) {
        Abandon(Kind::kTooLarge, now);
        return;
    }
    if (Status begun = sink_.Begin(*header, continuesBatch); !begun) {
        Abandon(Kind::kRefused, now, begun.reason());
        return;
    }
    sinkOpen_ = true;
    header_.assign(payload);
    ReleaseFile();
    received_ = 0;
    expectedBlock_ = 1;
    dataStarted_ = false;
    retries_ = 0;
    state_ = State::kReceiving;
    // Answered at once, even with copies behind it: those copies are the
    // sender's answers to our earlier requests, and are dropped.
    SendReply(Reply::kAck, now, false);
    Send(kCrcRequest);
    headerArrived_ = lastByte_;
}

void YmodemReceiver::HandleDataBlock(std::uint8_t number, std::string_view payload, bool more,
                                     Time now) {
    switch (state_) {
        case State::kAwaitingHeader:
            // A data block of a transfer that this session does not hold (one
            // it gave up or cancelled): tell the sender it is over.
            SendReply(Reply::kNothing, now, false);
            SendCancel();
            return;
        case State::kComplete:
            return;
        case State::kReceiving:
        case State::kEotRefused:
            break;
    }
    if (number == expectedBlock_) {
        std::size_t take = payload.size();
        if (announcedSize_) {
            // The file ends where its size says, whatever pads the rest of
            // its last block (senders fill it with SUB, NUL, 0xFF or what
            // their buffer held). A whole block of data beyond the size is
            // more than the sender announced (a file that grew while it was
            // sent), and the transfer fails where the sender hears of it, so
            // that both sides agree it is not delivered.
            const std::uint64_t missing = *announcedSize_ - received_;
            take = static_cast<std::size_t>(std::min<std::uint64_t>(take, missing));
            if (missing == 0 && !AllPadding(payload)) {
                Abandon(Kind::kLongerThanAnnounced, now);
                return;
            }
        } else if (received_ >= largestFile_) {
            // Without a size, only the last block's padding may go past the
            // limit; this block comes after a full file.
            Abandon(Kind::kTooLarge, now);
            return;
        }
        if (Status written = sink_.Write(tail_); !written) {
            Abandon(Kind::kNotStored, now, written.reason());
            return;
        }
        tail_.assign(payload.substr(0, take));
        received_ += take;
        ++expectedBlock_;
        dataStarted_ = true;
        retries_ = 0;
        state_ = State::kReceiving;
        Answer(Reply::kAck, more, now);
    } else if (number == static_cast<std::uint8_t>(expectedBlock_ - 1) && dataStarted_) {
        // A block that is in already: our acknowledgement was lost, or it is
        // a copy that a stalled line delivers late. Either way the sender
        // hears one answer, once the line is quiet, so it is never told twice.
        state_ = State::kReceiving;
        pacing_.Defer(Reply::kAck, now);
    } else {
        Abandon(Kind::kProtocolError, now);
    }
}

void YmodemReceiver::EndOfTransmission(Time now) {
    // The EOT stood alone and the line went quiet: the sender waits for us.
    const bool clean = pacing_.Current().blocks == 0 && !pacing_.Current().noise;
    switch (state_) {
        case State::kAwaitingHeader:
            if (lastEnding_ && lastEnding_->delivered && now - lastEnding_->at <= kEndRepeatWindow) {
                // The sender of the stored transfer still repeats its end.
                SendReply(Reply::kAck, now, true);
                Send(kCrcRequest);
            } else {
                // The end of a transfer that was not stored, or that nothing
                // here knows of (it began before a restart): the sender is
                // told at once that it failed, and sends the file again,
                // rather than repeating its end until it gives up.
                SendReply(Reply::kNothing, now, true);
                SendCancel();
            }
            return;
        case State::kReceiving:
            // With a size, the file is short; without one, only an end that
            // follows our acknowledgement of a clean block is taken. A lone
            // EOT may be noise: a sender that means it sends it again.
            if (announcedSize_ || (clean && pacing_.LastAnswerWasAck())) {
                SendReply(Reply::kNothing, now, true);
                Send(kNak);
                state_ = State::kEotRefused;
                deadline_ = now + kBlockTimeout;
            } else {
                SendReply(Reply::kRequestAgain, now, true);
            }
            return;
        case State::kEotRefused:
            if (!clean) {
                SendReply(Reply::kRequestAgain, now, true);
            } else if (announcedSize_) {
                Abandon(Kind::kShortFile, now);
            } else {
                Deliver(now, true);
            }
            return;
        case State::kComplete:
            return;
    }
}

bool YmodemReceiver::Deliver(Time now, bool answer) {
    if (announcedSize_ && received_ < *announcedSize_) {
        Abandon(Kind::kShortFile, now);
        return false;
    }
    if (!announcedSize_) {
        // Without a size, the padding of the last block is all we can remove.
        const std::size_t end = tail_.find_last_not_of(kPadding);
        received_ -= tail_.size() - (end == std::string::npos ? 0 : end + 1);
        tail_.resize(end == std::string::npos ? 0 : end + 1);
    }
    // The sender hears of success only once the file is safe: a file that
    // cannot be kept is cancelled, so the terminal still holds its data.
    Status written = sink_.Write(tail_);
    Result<FileSink::Kept> kept = written ? sink_.End() : Result<FileSink::Kept>(Failure{written.reason()});
    sinkOpen_ = false;
    if (!kept) {
        Abandon(Kind::kNotStored, now, kept.reason());
        return false;
    }
    if (answer) {
        SendReply(Reply::kAck, now, false);
        // Asks for the next header, so that a sender with no more files ends
        // its batch now rather than at the next session.
        Send(kCrcRequest);
    } else {
        SendReply(Reply::kNothing, now, false);
    }
    Outcome outcome{Kind::kFileReceived, std::move(name_), received_, *kept == FileSink::Kept::kRepeated,
                    announcedSize_, modified_, {}};
    outcomes_.push_back(std::move(outcome));
    ReleaseFile();
    state_ = State::kComplete;
    lastEnding_ = Ending{true, now};
    // After its batch's last file, the sender's next header begins a batch
    // of its own (it was docked again and heard a stale answer).
    lastEnding_->lastOfBatch = filesLeft_ == 1U;
    awaitingContinuation_ = !lastEnding_->lastOfBatch;
    return true;
}

void YmodemReceiver::NoteContinuation(std::string_view payload) {
    // Only the first header after our answer is the sender's: a terminal
    // that missed the answer sends nothing, and the next one to speak may be
    // another, docked in its place.
    if (awaitingContinuation_ && lastEnding_ && lastEnding_->delivered) {
        lastEnding_->next.assign(payload);
    }
    awaitingContinuation_ = false;
}

void YmodemReceiver::EndBatch() {
    // After a delivered file, with no transfer since; or before anything at
    // all, when it can only end a batch delivered before the service
    // started again. The empty header of a sender whose transfer here failed
    // ends nothing that was delivered.
    if (!lastEnding_) {
        sink_.BatchEnded(false);
    } else if (lastEnding_->delivered) {
        sink_.BatchEnded(true);
    }
}

void YmodemReceiver::Abandon(Kind kind, Time now, std::string reason) {
    if (kind != Kind::kAbortedBySender && kind != Kind::kSenderReplaced) {
        SendCancel();
    }
    if (sinkOpen_) {
        sink_.Discard();
        sinkOpen_ = false;
    }
    outcomes_.push_back(
        {kind, std::move(name_), received_, false, announcedSize_, modified_, std::move(reason)});
    if (kind != Kind::kSenderReplaced) {
        lastEnding_ = Ending{false, now};
    }
    awaitingContinuation_ = false;
    AwaitHeader(now);
}

void YmodemReceiver::AwaitHeader(Time now) {
    state_ = State::kAwaitingHeader;
    name_.clear();
    header_.clear();
    ReleaseFile();
    announcedSize_.reset();
    received_ = 0;
    dataStarted_ = false;
    retries_ = 0;
    pacing_.Reset();
    // The next 'C' comes after a full interval: a sender still busy with the
    // cancelled transfer has time to give up first.
    deadline_ = now + kHeaderRequestInterval;
}

void YmodemReceiver::ReleaseFile() {
    std::string().swap(tail_);
}

bool YmodemReceiver::IsDataBlockZero(std::string_view /*payload*/) const {
    // Block numbers wrap, so blocks 256, 512 ... are numbered 0 as well.
    // While the file is incomplete and 0 is the number it expects, or the one
    // it just took, a block 0 is data, whatever its bytes look like.
    return TransferInProgress() && dataStarted_ && !DataComplete() &&
           (expectedBlock_ == 0 || expectedBlock_ == 1);
}

bool YmodemReceiver::DataComplete() const {
    return announcedSize_ && received_ >= *announcedSize_;
}

}  // namespace vorlund
