// The durable record of the deliveries in the spool directory: which one
// X.DAT holds, which have been exported or kept and where, and which a
// terminal may still send again. It is an append-only text log, one line per
// change of a delivery, each line the delivery's whole record and on disk
// before the change counts; a restart reads it back, and the last line of a
// delivery wins. A line torn by a power cut fails its checksum and is cut
// off; a damaged line with whole lines after it is not a torn write, and only
// that line is passed over. The log is rewritten with only what is still
// needed at start-up and whenever it has grown.
//
// Files are named relative to the application directory where they lie in
// it, so that the ledger stays true when the service is started with a
// relative path, or its directory is moved.
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

    // A damaged line that whole lines follow, passed over when read.
    struct DamagedLine {
        std::size_t number;  // 1-based
        std::string text;    // as far as it is shown to an operator
    };

    // Reads the ledger at `path` (made when missing) and opens it for
    // appending. `base`: the application directory, ending in its separator.
    static Result<DeliveryLedger> Open(const Platform& platform, std::string path,
                                       std::string base);
    // Reads the ledger at `path` as it is, changing nothing, for a reader
    // beside the service that writes it (a missing ledger reads as empty);
    // `wholeBytes`, when given, is set to the length of its whole lines.
    static Result<DeliveryLedger> Read(const Platform& platform, std::string path,
                                       std::string base, std::uint64_t* wholeBytes = nullptr);

    // There was a ledger before this start.
    bool Existed() const { return existed_; }
    const std::vector<DamagedLine>& Damaged() const { return damaged_; }
    // The deliveries it holds, by number, oldest first.
    const std::vector<DeliveryRecord>& Records() const { return records_; }
    // The newest delivery X.DAT has held: the one it holds. A kept file
    // recorded only when an operator settled it never is.
    const DeliveryRecord* Latest() const;
    const DeliveryRecord* Find(std::uint64_t number) const;
    // Never a number that a damaged line may have had.
    std::uint64_t NextNumber() const { return highest_ + 1; }

    // Writes a new delivery, or a new state of one it holds. Only once the
    // line is on disk does the ledger hold the change.
    Status Write(const DeliveryRecord& record);

    // Rewrites the log with the deliveries for which `needed` holds and the
    // newest one; the rest are forgotten, and so are damaged lines.
    template <class Predicate>
    Status Prune(Predicate needed) {
        std::vector<DeliveryRecord> kept;
        const DeliveryRecord* latest = Latest();
        for (const DeliveryRecord& record : records_) {
            if (needed(record) || &record == latest) {
                kept.push_back(record);
            }
        }
        return Rewrite(std::move(kept));
    }
    // Appended lines since the log was last written whole.
    std::size_t Appended() const { return appended_; }

  private:
    DeliveryLedger(const Platform& platform, std::string path, std::string base)
        : platform_(&platform), path_(std::move(path)), base_(std::move(base)) {}
    Status Rewrite(std::vector<DeliveryRecord> records);
    void Apply(const DeliveryRecord& record);
    std::string Encode(DeliveryRecord record) const;
    void Resolve(DeliveryRecord& record) const;

    const Platform* platform_;
    std::string path_;
    std::string base_;
    bool existed_ = false;
    std::vector<DamagedLine> damaged_;
    std::vector<DeliveryRecord> records_;
    std::uint64_t highest_ = 0;
    std::unique_ptr<AppendFile> log_;
    std::size_t appended_ = 0;
};

}  // namespace vorlund
