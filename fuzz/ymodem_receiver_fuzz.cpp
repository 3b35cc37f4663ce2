// The YMODEM receiver on any line input and any timing. Input: a series of
// steps; a first byte with the high bit set advances the clock by its low
// seven bits times 100 ms and ticks, any other first byte feeds the next
// (byte % 64) + 1 bytes. The receiver must answer only with protocol bytes,
// keep its next deadline in the future after a tick, and deliver no file
// larger than its limit.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "download/ymodem_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vorlund::YmodemReceiver;
    constexpr std::uint64_t kLargest = 4096;
    std::chrono::milliseconds now(1000);
    YmodemReceiver receiver(
        now, [](std::string_view, std::string_view file) { return file.size() % 7 != 3; },
        kLargest);
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
            if (outcome->data.size() > kLargest + 1024 ||
                (outcome->kind != YmodemReceiver::Outcome::Kind::kFileReceived &&
                 !outcome->data.empty())) {
                std::abort();
            }
        }
    }
    return 0;
}
