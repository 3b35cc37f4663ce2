// The first frames on a line that no receiver holds: which protocol they
// speak, a lone end of transmission, a block of a transfer not held.
#include <algorithm>
#include <utility>

#include "download/blocks/block_bytes.h"
#include "download/protocol_recogniser.h"
#include "download/xmodem/xmodem_receiver.h"
#include "download/ymodem/ymodem_session.h"
#include "download/zmodem/zmodem_frame_scanner.h"

namespace vorlund {
namespace {

using Event = BlockScanner::Event;

constexpr std::string_view kCancelSequence = "\x18\x18\x18\x18\x18\x18\x18\x18";
// Longer than any ZMODEM header, escapes included.
constexpr std::size_t kLongestHeader = 32;
// What a ZMODEM sender may say first, to start a receiving program at a
// shell's prompt (lrzsz's sz does): a start, not noise on the line.
constexpr std::string_view kRemoteStart = "rz\r";

// The end of a ZMODEM hex header (CR, LF with or without its high bit, XON)
// after the receiver it was for let go, and a line's own flow control: no
// protocol's, and no sign of a wrong speed either.
bool LineControl(char byte) {
    switch (static_cast<unsigned char>(byte)) {
        case 0x0a:
        case 0x0d:
        case 0x8a:
        case 0x8d:
        case 0x11:
        case 0x13:
            return true;
        default:
            return false;
    }
}

}  // namespace

void ProtocolRecogniser::Recognise(Time now, bool quiet) {
    while (!active_ && !held_.empty()) {
        if (LineControl(held_.front()) && !scanner_.HasPending()) {
            held_.erase(0, 1);  // between frames, never inside one
            continue;
        }
        if (held_.starts_with(kRemoteStart)) {
            held_.erase(0, kRemoteStart.size());
            continue;
        }
        if (!quiet && kRemoteStart.starts_with(held_)) {
            return;  // it may still become one
        }
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
        rhythm_.Restart(now);
    }
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

}  // namespace vorlund
