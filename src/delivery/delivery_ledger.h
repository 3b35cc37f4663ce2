// The durable record of the deliveries in the spool directory: which one
// X.DAT holds, which have been exported or kept and where, and which arrived
// recently enough that a repeat of them is still expected. It is an
// append-only text log, one line per change of a delivery, each line the
// delivery's whole record and on disk before the change counts; a restart
// reads it back, and the last line of a delivery wins. A line torn by a power
// cut fails its checksum and is cut off. The log is rewritten with only what
// is still needed at start-up and whenever it has grown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "delivery/delivery_record.h"
#include "platform/platform.h"

namespace vorlund {

class DeliveryLedger {
  public:
    // The file name in the spool directory.
    static constexpr char kFileName[] = "Leveranser.log";

    // Reads the ledger at `path` (made when missing) and opens it for
    // appending.
    static Result<DeliveryLedger> Open(const Platform& platform, std::string path);

    // There was a ledger before this start.
    bool Existed() const { return existed_; }
    // The deliveries it holds, oldest first.
    const std::vector<DeliveryRecord>& Records() const { return records_; }
    // The newest delivery: the one X.DAT holds.
    const DeliveryRecord* Latest() const { return records_.empty() ? nullptr : &records_.back(); }
    std::uint64_t NextNumber() const { return Latest() ? Latest()->number + 1 : 1; }

    // Writes a new delivery, or a new state of one it holds. Only once the
    // line is on disk does the ledger hold the change.
    Status Write(const DeliveryRecord& record);

    // Rewrites the log with the deliveries for which `needed` holds and the
    // newest one; the rest are forgotten.
    template <class Predicate>
    Status Prune(Predicate needed) {
        std::vector<DeliveryRecord> kept;
        for (const DeliveryRecord& record : records_) {
            if (needed(record) || &record == Latest()) {
                kept.push_back(record);
            }
        }
        return Rewrite(std::move(kept));
    }
    // Appended lines since the log was last written whole.
    std::size_t Appended() const { return appended_; }

  private:
    DeliveryLedger(const Platform& platform, std::string path)
        : platform_(&platform), path_(std::move(path)) {}
    Status Rewrite(std::vector<DeliveryRecord> records);
    void Apply(const DeliveryRecord& record);

    const Platform* platform_;
    std::string path_;
    bool existed_ = false;
    std::vector<DeliveryRecord> records_;
    std::unique_ptr<AppendFile> log_;
    std::size_t appended_ = 0;
};

}  // namespace vorlund
