#include "download/ymodem_receiver.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "download/crc16_xmodem.h"

namespace vorlund {

namespace {

constexpr char kSoh = 0x01;  // a block of 128 bytes follows
constexpr char kStx = 0x02;  // a block of 1,024 bytes follows
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kCan = 0x18;
constexpr char kCrcRequest = 'C';
constexpr char kPadding = 0x1A;

// More than the two CAN the sender needs, so that one lost on the line still
// leaves a pair.
constexpr std::string_view kCancelSequence = "\x18\x18\x18\x18\x18\x18\x18\x18";

// Start byte, block number, its complement, payload, two CRC bytes.
constexpr std::size_t kFraming = 5;

std::size_t PayloadSize(char startByte) {
    return startByte == kStx ? 1024 : 128;
}

}  // namespace

YmodemReceiver::YmodemReceiver(Time now, FileSink sink, std::uint64_t largestFile)
    : sink_(std::move(sink)), largestFile_(largestFile) {
    Send(kCrcRequest);
    deadline_ = now + kHeaderRequestInterval;
}

void YmodemReceiver::Receive(std::string_view bytes, Time now) {
    for (char byte : bytes) {
        HandleByte(byte, now);
    }
}

void YmodemReceiver::HandleByte(char byte, Time now) {
    if (blockSize_ != 0) {
        block_.push_back(byte);
        lastByte_ = now;
        if (block_.size() == blockSize_) {
            HandleBlock(now);
        }
        return;
    }
    // Only two CAN in a row abort: a lone one is noise, or part of the probe
    // that some senders emit for another protocol while they wait.
    if (byte == kCan && previousWasCan_) {
        previousWasCan_ = false;
        if (TransferInProgress()) {
            Abandon(Outcome::Kind::kAbortedBySender, now);
        }
        return;
    }
    previousWasCan_ = byte == kCan;
    if (byte == kSoh || byte == kStx) {
        block_.assign(1, byte);
        blockSize_ = PayloadSize(byte) + kFraming;
        lastByte_ = now;
    } else if (byte == kEot) {
        HandleEot(now);
    }
    // Anything else between blocks is line noise or a probe: ignored.
}

void YmodemReceiver::HandleBlock(Time now) {
    const std::string_view block = block_;
    blockSize_ = 0;
    const auto number = static_cast<std::uint8_t>(block[1]);
    const auto complement = static_cast<std::uint8_t>(block[2]);
    const std::string_view payload = block.substr(3, PayloadSize(block[0]));
    const auto crc =
        static_cast<std::uint16_t>((static_cast<unsigned char>(block[block.size() - 2]) << 8) |
                                   static_cast<unsigned char>(block[block.size() - 1]));

    if (state_ == State::kComplete) {
        // Only the empty header that ends the batch is answered; the header of
        // a further file waits for the next session.
        if (number == 0 && complement == 0xFF && Crc16Xmodem(payload) == crc && payload[0] == 0) {
            Send(kAck);
        }
        return;
    }
    if (static_cast<std::uint8_t>(number + complement) != 0xFF) {
        if (TransferInProgress()) {
            Abandon(Outcome::Kind::kProtocolError, now);
        }
        return;
    }
    if (Crc16Xmodem(payload) != crc) {
        if (TransferInProgress()) {
            RequestAgain(kNak, now);
        } else {
            Send(kNak);
        }
        return;
    }
    if (state_ == State::kAwaitingHeader) {
        if (number == 0) {
            HandleHeader(payload, now);
        } else {
            // A data block of a transfer that this session does not hold (one
            // it gave up or cancelled): tell the sender it is over.
            output_.append(kCancelSequence);
        }
        return;
    }
    HandleDataBlock(number, payload, now);
}

void YmodemReceiver::HandleHeader(std::string_view payload, Time now) {
    if (payload[0] == 0) {
        // The empty header ends the batch.
        Send(kAck);
        deadline_ = now + kHeaderRequestInterval;
        return;
    }
    const std::size_t nameEnd = payload.find('\0');
    if (nameEnd == std::string_view::npos) {
        Send(kNak);
        return;
    }
    const std::string_view fields = payload.substr(nameEnd + 1);
    const std::size_t digits = std::min(fields.find_first_not_of("0123456789"), fields.size());
    std::optional<std::uint64_t> size;
    if (digits > 0) {
        std::uint64_t value = 0;
        if (std::from_chars(fields.data(), fields.data() + digits, value).ec != std::errc{}) {
            Send(kNak);
            return;
        }
        size = value;
    }

    name_.assign(payload.substr(0, nameEnd));
    if (size && *size > largestFile_) {
        Abandon(Outcome::Kind::kTooLarge, now);
        return;
    }
    announcedSize_ = size;
    data_.clear();
    lastBlockStart_ = 0;
    expectedBlock_ = 1;
    dataStarted_ = false;
    retries_ = 0;
    state_ = State::kReceiving;
    Send(kAck);
    Send(kCrcRequest);
    headerAnswered_ = now;
    deadline_ = now + kBlockTimeout;
}

void YmodemReceiver::HandleDataBlock(std::uint8_t number, std::string_view payload, Time now) {
    if (number == expectedBlock_) {
        lastBlockStart_ = data_.size();
        std::size_t take = payload.size();
        if (announcedSize_) {
            // The padding of the last block goes beyond the announced size.
            const std::uint64_t missing = *announcedSize_ - data_.size();
            take = static_cast<std::size_t>(std::min<std::uint64_t>(take, missing));
        } else if (data_.size() >= largestFile_) {
            // Without a size, only the last block's padding may go past the
            // limit; this block comes after a full file.
            Abandon(Outcome::Kind::kTooLarge, now);
            return;
        }
        data_.append(payload.substr(0, take));
        ++expectedBlock_;
        dataStarted_ = true;
        retries_ = 0;
        state_ = State::kReceiving;
        Send(kAck);
        deadline_ = now + kBlockTimeout;
    } else if (number == static_cast<std::uint8_t>(expectedBlock_ - 1)) {
        if (!dataStarted_ && now - headerAnswered_ < kByteTimeout) {
            // Copies of the header hard on its heels answer 'C's that waited
            // on the line before the sender started. Answering each would
            // put our answers out of step with its blocks, so only the first
            // is answered.
            return;
        }
        // Our acknowledgement was lost and the sender repeats the block: it
        // is in already. A repeated header still wants its 'C' as well.
        Send(kAck);
        if (!dataStarted_) {
            Send(kCrcRequest);
            headerAnswered_ = now;
        }
        deadline_ = now + kBlockTimeout;
    } else {
        Abandon(Outcome::Kind::kProtocolError, now);
    }
}

void YmodemReceiver::HandleEot(Time now) {
    switch (state_) {
        case State::kReceiving:
            // A lone EOT may be noise: a sender that means it sends it again.
            Send(kNak);
            state_ = State::kEotRefused;
            deadline_ = now + kBlockTimeout;
            break;
        case State::kEotRefused:
            Finish(now);
            break;
        case State::kComplete:
            // Our acknowledgement of the end was lost.
            Send(kAck);
            Send(kCrcRequest);
            break;
        case State::kAwaitingHeader:
            break;
    }
}

void YmodemReceiver::Finish(Time now) {
    if (announcedSize_ && data_.size() < *announcedSize_) {
        Abandon(Outcome::Kind::kShortFile, now);
        return;
    }
    if (!announcedSize_) {
        // Without a size, the padding of the last block is all we can remove.
        std::size_t end = data_.size();
        while (end > lastBlockStart_ && data_[end - 1] == kPadding) {
            --end;
        }
        data_.resize(end);
    }
    // The sender hears of success only once the file is safe: a file that
    // cannot be kept is cancelled, so the terminal still holds its data.
    if (!sink_(name_, data_)) {
        Abandon(Outcome::Kind::kNotStored, now);
        return;
    }
    Send(kAck);
    // Asks for the next header, so that a sender with no more files ends its
    // batch now rather than at the next session.
    Send(kCrcRequest);
    outcomes_.push_back({Outcome::Kind::kFileReceived, std::move(name_), std::move(data_)});
    name_.clear();
    data_.clear();
    state_ = State::kComplete;
}

void YmodemReceiver::RequestAgain(char request, Time now) {
    if (++retries_ > kMaxRetries) {
        Abandon(Outcome::Kind::kGivenUp, now);
        return;
    }
    Send(request);
    deadline_ = now + kBlockTimeout;
}

char YmodemReceiver::RepeatRequest() const {
    // Until the first data block the sender waits for 'C', as after the header.
    return dataStarted_ || state_ == State::kEotRefused ? kNak : kCrcRequest;
}

void YmodemReceiver::Abandon(Outcome::Kind kind, Time now) {
    if (kind != Outcome::Kind::kAbortedBySender) {
        output_.append(kCancelSequence);
    }
    outcomes_.push_back({kind, std::move(name_), {}});
    AwaitHeader(now);
}

void YmodemReceiver::AwaitHeader(Time now) {
    state_ = State::kAwaitingHeader;
    name_.clear();
    data_.clear();
    announcedSize_.reset();
    retries_ = 0;
    // The next 'C' comes after a full interval: a sender still busy with the
    // cancelled transfer has time to give up first.
    deadline_ = now + kHeaderRequestInterval;
}

void YmodemReceiver::Tick(Time now) {
    if (blockSize_ != 0) {
        // While a block is arriving only the silence inside it counts.
        if (now - lastByte_ < kByteTimeout) {
            return;
        }
        blockSize_ = 0;
        block_.clear();
        if (TransferInProgress()) {
            RequestAgain(RepeatRequest(), now);
            return;
        }
    }
    if (state_ == State::kComplete || now < deadline_) {
        return;
    }
    if (state_ == State::kAwaitingHeader) {
        Send(kCrcRequest);
        deadline_ = now + kHeaderRequestInterval;
    } else {
        RequestAgain(RepeatRequest(), now);
    }
}

std::optional<YmodemReceiver::Time> YmodemReceiver::NextDeadline() const {
    if (blockSize_ != 0) {
        return lastByte_ + kByteTimeout;
    }
    if (state_ == State::kComplete) {
        return std::nullopt;
    }
    return deadline_;
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
    blockSize_ = 0;
    block_.clear();
    if (TransferInProgress()) {
        output_.append(kCancelSequence);
        AwaitHeader(now);
    }
}

}  // namespace vorlund
