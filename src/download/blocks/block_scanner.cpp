#include "download/blocks/block_scanner.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "download/blocks/block_bytes.h"
#include "download/blocks/crc16_xmodem.h"

namespace vorlund {
namespace {

// Start byte, block number, its complement; after the payload two CRC bytes,
// or one checksum byte in the original protocol.
constexpr std::size_t kHead = 3;
constexpr std::size_t kCrcFraming = kHead + 2;
constexpr std::size_t kChecksumFraming = kHead + 1;

std::size_t PayloadSize(char startByte) {
    return startByte == kStx ? 1024 : 128;
}

bool CrcHolds(std::string_view block) {
    const std::string_view payload = block.substr(kHead, block.size() - kCrcFraming);
    const auto crc =
        static_cast<std::uint16_t>((static_cast<unsigned char>(block[block.size() - 2]) << 8) |
                                   static_cast<unsigned char>(block[block.size() - 1]));
    return Crc16Xmodem(payload) == crc;
}

bool ChecksumHolds(std::string_view block) {
    const std::string_view payload = block.substr(kHead, block.size() - kChecksumFraming);
    const unsigned sum = std::accumulate(
        payload.begin(), payload.end(), 0U,
        [](unsigned total, char byte) { return total + static_cast<unsigned char>(byte); });
    return static_cast<unsigned char>(sum) == static_cast<unsigned char>(block.back());
}

}  // namespace

std::string BlockScanner::Frame(const Event& block) {
    std::string bytes{block.payload.size() == 1024 ? kStx : kSoh, static_cast<char>(block.number),
                      static_cast<char>(0xFF - block.number)};
    bytes += block.payload;
    if (block.checksum) {
        const unsigned sum = std::accumulate(
            block.payload.begin(), block.payload.end(), 0U,
            [](unsigned total, char byte) { return total + static_cast<unsigned char>(byte); });
        bytes.push_back(static_cast<char>(sum & 0xFF));
    } else {
        const std::uint16_t crc = Crc16Xmodem(block.payload);
        bytes.push_back(static_cast<char>(crc >> 8));
        bytes.push_back(static_cast<char>(crc & 0xFF));
    }
    return bytes;
}

std::optional<BlockScanner::Event> BlockScanner::Next() {
    return Scan(false);
}

std::optional<BlockScanner::Event> BlockScanner::NextAtQuiet() {
    return Scan(true);
}

void BlockScanner::AfterSilence() {
    insideBlock_ = 0;
}

std::string BlockScanner::TakePending() {
    insideBlock_ = 0;
    previousWasCan_ = false;
    return std::exchange(pending_, {});
}

void BlockScanner::Clear() {
    pending_.clear();
    pending_.shrink_to_fit();
    insideBlock_ = 0;
    previousWasCan_ = false;
}

std::optional<BlockScanner::Event> BlockScanner::Scan(bool quiet) {
    std::size_t noise = 0;
    bool damagedBlock = false;
    bool lastWasCan = previousWasCan_;
    while (noise < pending_.size()) {
        const char byte = pending_[noise];
        const bool insideBlock = noise < insideBlock_;
        if (byte == kSoh || byte == kStx) {
            if (noise > 0) {
                // What came before a candidate block is reported first, so
                // the candidate always starts the pending bytes.
                previousWasCan_ = lastWasCan;
                return Noise(noise, damagedBlock);
            }
            const std::size_t size =
                PayloadSize(byte) + (checksum_ ? kChecksumFraming : kCrcFraming);
            if (pending_.size() < kHead && !quiet) {
                return std::nullopt;
            }
            const bool headHolds = pending_.size() >= kHead &&
                                   static_cast<std::uint8_t>(pending_[1] + pending_[2]) == 0xFF;
            if (headHolds && pending_.size() < size && !quiet) {
                return std::nullopt;  // it may still become a block
            }
            const std::string_view candidate = std::string_view(pending_).substr(0, size);
            if (headHolds && pending_.size() >= size &&
                (checksum_ ? ChecksumHolds(candidate) : CrcHolds(candidate))) {
                Event block{Event::Kind::kBlock, static_cast<std::uint8_t>(pending_[1]),
                            pending_.substr(kHead, PayloadSize(byte)), checksum_, false};
                Consume(size);
                previousWasCan_ = false;
                return block;
            }
            // A header sent with the checksum is one byte shorter, and its
            // sender then waits: only a candidate of exactly that length
            // followed by silence is taken as one. So is the first block of
            // a transfer without a header, from a sender that speaks only
            // the checksum, of either size (a header is always short).
            const std::size_t checksumSize = PayloadSize(byte) + kChecksumFraming;
            const auto number = static_cast<std::uint8_t>(pending_.size() > 1 ? pending_[1] : 0);
            const bool first = number == 1 || (number == 0 && byte == kSoh);
            if (!checksum_ && headHolds && quiet && first && pending_.size() == checksumSize &&
                ChecksumHolds(pending_)) {
                Event header{Event::Kind::kBlock, number,
                             pending_.substr(kHead, PayloadSize(byte)), true, false};
                Consume(checksumSize);
                previousWasCan_ = false;
                return header;
            }
            if (headHolds) {
                // A block that failed: its bytes are data, whatever they look
                // like. Only one that arrived whole was surely sent as a block.
                insideBlock_ = std::max(insideBlock_, std::min(size, pending_.size()));
                damagedBlock = damagedBlock || pending_.size() >= size;
            } else if (LooksExpected()) {
                // The expected block with its number damaged: the rest of it,
                // arrived or still coming, is data.
                insideBlock_ = std::max(insideBlock_, size);
                damagedBlock = true;
            }
            lastWasCan = false;
            noise = 1;
            continue;
        }
        if (!insideBlock && byte == kEot) {
            if (noise > 0) {
                previousWasCan_ = lastWasCan;
                return Noise(noise, damagedBlock);
            }
            Consume(1);
            previousWasCan_ = false;
            return Event{Event::Kind::kEot, 0, {}, false, false};
        }
        if (!insideBlock && byte == kCan) {
            if (lastWasCan) {
                // Two CAN in a row: what the sender says when it gives up.
                Consume(noise + 1);
                previousWasCan_ = false;
                return Event{Event::Kind::kAbort, 0, {}, false, false};
            }
            lastWasCan = true;
        } else {
            lastWasCan = false;
        }
        ++noise;
    }
    if (noise == 0) {
        return std::nullopt;
    }
    previousWasCan_ = lastWasCan;
    return Noise(noise, damagedBlock);
}

bool BlockScanner::LooksExpected() const {
    if (pending_.size() < kHead) {
        return false;
    }
    const auto number = static_cast<std::uint8_t>(pending_[1]);
    const auto complement =
        static_cast<std::uint8_t>(0xFF - static_cast<std::uint8_t>(pending_[2]));
    const auto previous = static_cast<std::uint8_t>(expected_ - 1);
    return number == expected_ || number == previous || complement == expected_ ||
           complement == previous;
}

BlockScanner::Event BlockScanner::Noise(std::size_t count, bool damagedBlock) {
    Consume(count);
    return Event{Event::Kind::kNoise, 0, {}, false, damagedBlock, count};
}

void BlockScanner::Consume(std::size_t count) {
    pending_.erase(0, count);
    insideBlock_ = insideBlock_ > count ? insideBlock_ - count : 0;
}

}  // namespace vorlund
