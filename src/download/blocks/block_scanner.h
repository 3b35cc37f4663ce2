// Cuts the bytes of a YMODEM line into what the sender transmitted: blocks,
// ends of transmission, aborts, and the noise between them. It keeps no
// protocol state and no clock; the receiver decides what each means.
//
// It resynchronises at once: a candidate block that fails its check gives up
// only its start byte, and the search for the next block goes on from the
// byte after it, so a block that follows garbage, or sits inside a damaged
// block whose bytes were dropped, is found as soon as it is complete. Bytes
// that lay inside a candidate block are data, never control: an EOT or two
// CAN among them are not acted on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

class BlockScanner {
  public:
    struct Event {
        enum class Kind {
            kBlock,  // a block whose check holds
            kEot,    // an end of transmission where no block data lay
            kAbort,  // two CAN in a row where no block data lay
            kNoise,  // bytes that are none of these
        };
        Kind kind;
        std::uint8_t number = 0;
        std::string payload;  // kBlock: 128 or 1,024 bytes
        // kBlock: a block that came with the one-byte checksum of the
        // original protocol instead of the CRC.
        bool checksum = false;
        // kNoise: the noise began like a block (start byte, number and its
        // complement), so a sender may be waiting for an answer to it.
        bool damagedBlock = false;
        // kNoise: how many bytes it was.
        std::size_t length = 0;
    };

    // The bytes of a block as its sender framed them, with the check it
    // came with.
    static std::string Frame(const Event& block);

    void Append(std::string_view bytes) { pending_.append(bytes); }
    // The number of the block the receiver waits for: a block start whose
    // number or complement (but not both) matches it, or the block before
    // it, is a damaged block rather than noise.
    void Expect(std::uint8_t number) { expected_ = number; }

    // The next event in the bytes so far; none while the bytes that are left
    // may still become a block.
    std::optional<Event> Next();
    // The same once the line has gone quiet: no candidate block will grow,
    // so one that is incomplete is resolved (a header in checksum mode, or
    // noise) and the search goes on behind its start byte.
    std::optional<Event> NextAtQuiet();

    // The line was quiet before the bytes that come next: nothing of an
    // earlier block continues in them. Call once NextAtQuiet has run dry.
    void AfterSilence();

    // Every block, not only a header at quiet, comes with the one-byte
    // checksum of the original protocol instead of the CRC: the sender
    // chose it for the whole transfer.
    void UseChecksum(bool checksum) { checksum_ = checksum; }

    // Bytes received but not yet turned into events.
    bool HasPending() const { return !pending_.empty(); }
    // Those bytes, for another scanner to go on with.
    std::string TakePending();
    // Forgets everything received so far.
    void Clear();

  private:
    std::optional<Event> Scan(bool quiet);
    // The pending bytes begin like the expected block with a damaged number.
    bool LooksExpected() const;
    // Turns the first `count` pending bytes into noise.
    Event Noise(std::size_t count, bool damagedBlock);
    void Consume(std::size_t count);

    std::string pending_;
    // The first bytes of pending_ that lay inside a candidate block that
    // failed: only a block start is looked for among them.
    std::size_t insideBlock_ = 0;
    bool previousWasCan_ = false;
    std::uint8_t expected_ = 0;
    bool checksum_ = false;
};

}  // namespace vorlund
