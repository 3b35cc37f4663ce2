#include "download/new_sender_probe.h"

#include <utility>

#include "download/blocks/block_scanner.h"
#include "download/zmodem/zmodem_frame_scanner.h"

namespace vorlund {
namespace {

using Event = BlockScanner::Event;

// Longer than any ZMODEM header, escapes included.
constexpr std::size_t kLongestHeader = 32;

}  // namespace

void NewSenderProbe::Append(std::string_view bytes, Time now) {
    if (!bytes.empty()) {
        bytes_.append(bytes);
        lastByte_ = now;
    }
}

std::size_t NewSenderProbe::FrameStart() const {
    return bytes_.find_first_of(std::string_view("\x01\x02*", 3));
}

NewSenderProbe::Verdict NewSenderProbe::Decide(
    bool quiet, const ProtocolReceiver& silent, LineProtocol protocol,
    const std::function<bool(LineProtocol)>& takes) const {
    const std::size_t start = FrameStart();
    if (start == std::string::npos) {
        return quiet || bytes_.size() > kLongestHeader ? Verdict::kOldSender : Verdict::kUndecided;
    }
    const std::string_view frame = std::string_view(bytes_).substr(start);
    if (frame[0] == zmodem::kPad) {
        if (protocol == LineProtocol::kZmodem || !takes(LineProtocol::kZmodem)) {
            return Verdict::kOldSender;  // a ZMODEM receiver tells a new ZMODEM sender itself
        }
        ZmodemFrameScanner scanner;
        scanner.Append(frame.substr(0, kLongestHeader));
        if (const std::optional<ZmodemFrameScanner::Event> event = scanner.Next()) {
            const bool opens = event->kind == ZmodemFrameScanner::Event::Kind::kHeader &&
                               (event->header.type == zmodem::FrameType::kRqInit ||
                                event->header.type == zmodem::FrameType::kFile);
            return opens ? Verdict::kNewSender : Verdict::kOldSender;
        }
        return scanner.InFrame() && !quiet && frame.size() < kLongestHeader ? Verdict::kUndecided
                                                                            : Verdict::kOldSender;
    }
    BlockScanner scanner;
    scanner.Append(frame);
    scanner.Expect(1);
    const std::optional<Event> event = quiet ? scanner.NextAtQuiet() : scanner.Next();
    if (!event) {
        return Verdict::kUndecided;
    }
    if (event->kind != Event::Kind::kBlock || event->number > 1 ||
        !takes(event->number == 0 ? LineProtocol::kYmodem : LineProtocol::kXmodem) ||
        (protocol != LineProtocol::kZmodem && silent.ClaimsBlock(event->number, event->payload))) {
        return Verdict::kOldSender;
    }
    return Verdict::kNewSender;
}

std::string NewSenderProbe::TakeAll() {
    return std::exchange(bytes_, {});
}

std::string NewSenderProbe::TakeNewSender() {
    const std::size_t start = FrameStart();
    std::string bytes = std::exchange(bytes_, {});
    return start == std::string::npos ? std::string() : bytes.substr(start);
}

void NewSenderProbe::Clear() {
    bytes_.clear();
}

}  // namespace vorlund
