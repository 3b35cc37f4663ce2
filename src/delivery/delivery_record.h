// What the ledger knows of one delivery, and how it is written as one line
// of text that a person can read and a torn write cannot pass for whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

// The sender's announcement of a file, where the protocol has one.
struct DeliveryHeader {
    std::string name;
    std::optional<std::uint64_t> size;
    std::string modified;  // as sent; empty when none
    bool operator==(const DeliveryHeader&) const = default;
};

enum class DeliveryState {
    kReceived,    // recorded: X.DAT holds it, or will once its staged file is moved there
    kFound,       // in X.DAT, but never recorded arriving: kept, never converted
    kExporting,   // its export is written, on its way to `file`
    kExported,    // its export is `file`
    kKeeping,     // on its way to the kept file `file`
    kKept,        // kept as `file`
    kSuperseded,  // the next delivery replaced X.DAT before it was settled
    kAdopted,     // in X.DAT when the ledger began; handled before there was one
};

struct DeliveryRecord {
    std::uint64_t number = 0;
    DeliveryState state = DeliveryState::kReceived;
    std::int64_t arrived = 0;   // ms since 1970 UTC
    std::int64_t lastSeen = 0;  // its arrival, or its latest repeat
    std::string digest;         // SHA-256 of its bytes
    std::uint64_t bytes = 0;
    // What the file system says of X.DAT holding it (FileIdentity): a later
    // X.DAT with the same bytes is told from it by this, not by its bytes.
    std::string identity;
    // Its sender may not know that it arrived (its batch did not end): the
    // same header and bytes again are its resend, not a delivery of their own.
    bool candidate = false;
    // The batch it arrived in (or was last sent again in), counted from 1;
    // 0 when none. Only the newest batch can still end, after a restart too.
    std::uint64_t batch = 0;
    std::optional<DeliveryHeader> header;
    // The line protocol that carried it ("zmodem", "ymodem", "xmodem");
    // empty where the terminal control received it.
    std::string protocol;
    std::string staged;     // kReceived: the file that becomes X.DAT
    std::string temporary;  // kExporting: the export under its temporary name
    std::string file;       // the export or the kept file
    std::string result;     // kKeeping, kKept: why it was kept (the conversion's result)
    // kKeeping, kKept: what failed, in the system's words, for the operator
    // who settles it.
    std::string why;
    // An operator's settlement: the kept file whose export `file` is (being)
    // made; it is removed once the export is on disk and recorded.
    std::string keptFile;
    // Recorded only when an operator settled it, from a kept file whose
    // record an earlier version did not keep: X.DAT never held it here.
    bool keptOnly = false;

    // Exported, kept, or out of the service's hands.
    bool Settled() const {
        return state == DeliveryState::kExported || state == DeliveryState::kKept ||
               state == DeliveryState::kSuperseded || state == DeliveryState::kAdopted;
    }
};

// One line, LF included, ending in the CRC-32C of what precedes it.
std::string EncodeRecord(const DeliveryRecord& record);
// The record of one line (without its LF); none when the line is damaged.
std::optional<DeliveryRecord> DecodeRecord(std::string_view line);

}  // namespace vorlund
