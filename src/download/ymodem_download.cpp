#include "download/ymodem_download.h"

#include <utility>

namespace vorlund {

YmodemDownload::YmodemDownload(DeliveryHandOff& handOff, DownloadObserver& observer,
                               std::uint64_t largestFile)
    : handOff_(handOff), observer_(observer), largestFile_(largestFile) {}

YmodemDownload::~YmodemDownload() {
    receiver_.reset();
}

void YmodemDownload::Start(Time now) {
    Stop(now);
    // Answers left from a line that has gone are no answers on this one: a
    // cancel among them would end the next sender before it began.
    output_.clear();
    receiver_ = std::make_unique<YmodemReceiver>(now, static_cast<FileSink&>(*this), largestFile_);
    if (lastEnding_) {
        receiver_->RememberEnding(*lastEnding_);
    }
}

void YmodemDownload::Stop(Time now) {
    if (!receiver_) {
        return;
    }
    // The sender is told at once rather than left to time out.
    receiver_->Cancel(now);
    output_ += receiver_->TakeOutput();
    TakeOutcomes(now);
    lastEnding_ = receiver_->LastEnding();
    receiver_.reset();
}

void YmodemDownload::Receive(std::string_view bytes, Time now) {
    if (receiver_) {
        receiver_->Receive(bytes, now);
        TakeOutcomes(now);
    }
}

void YmodemDownload::Tick(Time now) {
    if (receiver_) {
        receiver_->Tick(now);
        TakeOutcomes(now);
    }
}

std::optional<YmodemDownload::Time> YmodemDownload::NextDeadline() const {
    return receiver_ ? receiver_->NextDeadline() : std::nullopt;
}

std::string YmodemDownload::TakeOutput() {
    if (receiver_) {
        output_ += receiver_->TakeOutput();
    }
    return std::exchange(output_, {});
}

bool YmodemDownload::TakeArrival() {
    return std::exchange(arrival_, false);
}

void YmodemDownload::TakeOutcomes(Time now) {
    while (std::optional<YmodemReceiver::Outcome> outcome = receiver_->TakeOutcome()) {
        observer_.TransferEnded(*outcome);
        if (outcome->kind != YmodemReceiver::Outcome::Kind::kFileReceived) {
            continue;
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

Status YmodemDownload::Begin(const YmodemHeader& header, bool continuesBatch) {
    Result<IncomingDelivery> incoming = handOff_.BeginReceiving(continuesBatch);
    if (!incoming) {
        return Status(Failure{incoming.reason()});
    }
    incoming_.emplace(std::move(*incoming));
    header_ = DeliveryHeader{header.name, header.size, header.modified};
    return {};
}

Status YmodemDownload::Write(std::string_view bytes) {
    return incoming_->Append(bytes);
}

Result<YmodemReceiver::FileSink::Kept> YmodemDownload::End() {
    IncomingDelivery incoming = std::move(*incoming_);
    incoming_.reset();
    const Result<DeliveryHandOff::Verdict> verdict = handOff_.Commit(std::move(incoming), header_);
    if (!verdict) {
        return Failure{verdict.reason()};
    }
    return *verdict == DeliveryHandOff::Verdict::kRepeated ? Kept::kRepeated : Kept::kStored;
}

void YmodemDownload::Discard() {
    incoming_.reset();
}

void YmodemDownload::BatchEnded() {
    handOff_.EndBatch();
}

}  // namespace vorlund
