// The YMODEM receiver as one receiver among others, for the recogniser. It
// holds the sender from its header to the end of its batch, or until its
// transfer fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/protocol_receiver.h"
#include "download/transfer_sink.h"
#include "download/ymodem/ymodem_receiver.h"

namespace vorlund {

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

}  // namespace vorlund
