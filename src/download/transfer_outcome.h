// How a transfer ended, whatever the protocol that carried it: what the
// service journals, and what tells the session that a delivery arrived.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

// The protocols a sender may speak; the receiver recognises which.
enum class LineProtocol { kYmodem, kXmodem, kZmodem };

// As the ledger and the journal name it: "ymodem", "xmodem", "zmodem".
constexpr std::string_view ProtocolName(LineProtocol protocol) {
    switch (protocol) {
        case LineProtocol::kYmodem:
            return "ymodem";
        case LineProtocol::kXmodem:
            return "xmodem";
        case LineProtocol::kZmodem:
            return "zmodem";
    }
    return {};
}

struct TransferOutcome {
    enum class Kind {
        kFileReceived,
        kAbortedBySender,  // CAN CAN
        kProtocolError,    // a block out of sequence or a bad header; cancelled
        kGivenUp,          // no usable block after every retry; cancelled
        kShortFile,        // the sender ended before the size it announced; cancelled
        kNotStored,        // the sink could not keep it; cancelled
        kTooLarge,         // larger than the largest file taken; cancelled
        kLongerThanAnnounced,  // data beyond the announced size; cancelled
        kRefused,          // the sink refused it at its start; cancelled
        kSenderReplaced,   // a new sender started over while this one had gone silent
        kStopped,          // the owner cancelled it
    };
    Kind kind;
    std::string name;                   // from the header, when there was one
    std::uint64_t bytes = 0;            // kFileReceived: the file's size
    bool repeated = false;              // kFileReceived: arrived before, not kept again
    std::optional<std::uint64_t> size;  // announced in the header
    std::string modified;               // the header's modification time, as sent
    std::string reason;                 // kNotStored, kRefused: the sink's reason
    LineProtocol protocol = LineProtocol::kYmodem;
    std::uint64_t resumedFrom = 0;  // kFileReceived: bytes kept from a transfer cut off before
};

// How the last transfer on the line ended, for a sender that repeats its
// end of transmission to the next session.
struct TransferEnding {
    bool delivered;  // true: the file was delivered; false: cancelled
    std::chrono::milliseconds at;
    LineProtocol protocol = LineProtocol::kYmodem;
    std::uint64_t bytes = 0;  // delivered: the file's size, which a repeated end names
    // ZMODEM: the sender's session was still open, so it may wait for an
    // answer: to its next header (its next file, or the end of its session)
    // after a delivery, or to what it sent last before its transfer was cut
    // off.
    bool senderWaits = false;
    // ZMODEM: our answer to its end of session went out, and its "over and
    // out" has not come: a sender that missed the answer waits for it.
    bool overAwaited = false;
    // The offer the sender went on with after a delivered file, when it came
    // in answer to our acknowledgement of the end (YMODEM: before we asked
    // for one again): YMODEM's block 0, or ZMODEM's file information with
    // its conversion option. A transfer that begins with it continues the
    // batch; ZMODEM's next session answers it at once.
    std::string next{};
    std::uint8_t nextOption = 0;
    // The delivered file's offer said it was the last of its batch: whatever
    // the sender offers next begins a batch of its own (a terminal that
    // heard a stale answer after it was docked again, not one going on).
    bool lastOfBatch = false;
};

}  // namespace vorlund
