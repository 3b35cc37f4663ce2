// The YMODEM receiver on any line input and any timing. Input: a series of
// steps; a first byte with the high bit set advances the clock by its low
// seven bits times 100 ms and ticks, any other first byte feeds the next
// (byte % 64) + 1 bytes. The receiver must answer only with protocol bytes,
// keep its next deadline in the future after a tick, keep its sink's calls
// in order, and deliver no file larger than its limit.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "download/ymodem/ymodem_receiver.h"

namespace {

using vorlund::YmodemReceiver;
constexpr std::uint64_t kLargest = 4096;

// Checks the order of the calls and refuses now and then, as a full disk
// would.
class CheckingSink final : public YmodemReceiver::FileSink {
  public:
    vorlund::Status Begin(const vorlund::FileOffer&, bool) override {
        Expect(!open_);
        open_ = true;
        size_ = 0;
        return {};
    }
    vorlund::Status Write(std::string_view bytes) override {
        Expect(open_);
        size_ += bytes.size();
        return {};
    }
    vorlund::Result<Kept> End() override {
        Expect(open_ && size_ <= kLargest + 1024);
        open_ = false;
        if (size_ % 7 == 3) {
            return vorlund::Failure{"refused"};
        }
        return Kept::kStored;
    }
    void Discard() override {
        Expect(open_);
        open_ = false;
    }
    void BatchEnded(bool) override { Expect(!open_); }
    std::uint64_t Size() const { return size_; }

  private:
    static void Expect(bool holds) {
        if (!holds) {
            std::abort();
        }
    }
    bool open_ = false;
    std::uint64_t size_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::chrono::milliseconds now(1000);
    CheckingSink sink;
    YmodemReceiver receiver(now, sink, kLargest);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = 0; at < input.size();) {
        const auto step = static_cast<std::uint8_t>(input[at++]);
        if ((step & 0x80) != 0) {
            now += std::chrono::milliseconds((step & 0x7F) * 100);
            receiver.Tick(now);
            const auto deadline = receiver.NextDeadline();
            if (deadline && *deadline <= now) {
                std::abort();  // the owner's loop would spin
            }
        } else {
            const std::size_t length = std::min<std::size_t>(step % 64 + 1, input.size() - at);
            receiver.Receive(input.substr(at, length), now);
            at += length;
        }
        for (char byte : receiver.TakeOutput()) {
            if (byte != '\x06' && byte != '\x15' && byte != 'C' && byte != '\x18') {
                std::abort();
            }
        }
        while (const auto outcome = receiver.TakeOutcome()) {
            if (outcome->kind == YmodemReceiver::Outcome::Kind::kFileReceived &&
                outcome->bytes != sink.Size()) {
                std::abort();
            }
        }
    }
    return 0;
}
