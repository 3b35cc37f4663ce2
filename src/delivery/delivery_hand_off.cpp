#include "delivery/delivery_hand_off.h"

#include <algorithm>
#include <exception>
#include <tuple>
#include <utility>

#include "delivery/kept_delivery.h"

namespace vorlund {
namespace {

// Why an X.DAT that was never recorded arriving is kept: it was not
// converted, since it may be a write that did not finish.
constexpr char kUnrecorded[] = "U";

std::string Detail(const std::string& path, const std::string& reason) {
    return reason.empty() ? path : path + ": " + reason;
}

// One more thing gone wrong, after what went wrong first, if anything did.
void Add(std::string& detail, const std::string& more) {
    detail += detail.empty() ? more : "; " + more;
}

}  // namespace

DeliveryHandOff::DeliveryHandOff(const ServiceSettings& settings, const Platform& platform,
                                 char decimalSeparator, DeliveryObserver& observer,
                                 DeliveryLedger ledger)
    : settings_(settings),
      platform_(platform),
      decimalSeparator_(decimalSeparator),
      observer_(observer),
      ledger_(std::move(ledger)) {}

Settlement DeliveryHandOff::SettleArrival() {
    const DeliveryRecord* latest = ledger_.Latest();
    if (latest && committed_ == latest->number && !latest->Settled()) {
        committed_.reset();
        return Settle(*latest);
    }
    // The control wrote X.DAT itself: recorded now, before anything depends on
    // it. One it wrote over an unsettled delivery has taken that one's place.
    if (latest && !latest->Settled()) {
        DeliveryRecord superseded = *latest;
        superseded.state = DeliveryState::kSuperseded;
        static_cast<void>(Record(superseded));
    }
    DeliveryRecord record;
    record.number = ledger_.NextNumber();
    record.arrived = record.lastSeen = platform_.SystemTimeMs();
    if (const auto digest = Digest(ReceivedPath())) {
        std::tie(record.digest, record.bytes) = *digest;
        if (const Result<std::string> identity = platform_.FileIdentity(ReceivedPath())) {
            record.identity = *identity;
        }
        // Unrecorded, it is converted all the same: the record only guards it.
        static_cast<void>(Record(record));
    }
    return Settle(record);
}

std::optional<Settlement> DeliveryHandOff::SettleLeftOver() {
    const DeliveryRecord* latest = ledger_.Latest();
    if (!latest || latest->Settled()) {
        return std::nullopt;
    }
    return Settle(*latest);
}

Result<IncomingDelivery> DeliveryHandOff::BeginReceiving(bool continuesBatch) {
    batchOpenAtStart_ = false;
    if (!continuesBatch || batch_.empty()) {
        // The batch before, if one was open, did not end: its deliveries stay
        // repeat candidates.
        batch_.clear();
        ++batchNumber_;
    }
    if (const DeliveryRecord* latest = ledger_.Latest(); latest && !latest->Settled()) {
        // The fault may have been put right since: one more try, before the
        // next delivery is turned away for it. Its failures say what to put
        // right, or how much room to free.
        const Settlement retried = Settle(*latest);
        latest = ledger_.Latest();
        if (!latest->Settled()) {
            std::string refusal = ReceivedPath() + " holds delivery " +
                                  std::to_string(latest->number) +
                                  ", which is neither exported nor kept";
            if (!retried.detail.empty()) {
                refusal += ": " + retried.detail;
            }
            return Failure{refusal};
        }
    }
    Result<std::unique_ptr<StagedFile>> file = platform_.CreateStaged(ReceivedPath());
    if (!file) {
        return Failure{Detail(ReceivedPath(), file.reason())};
    }
    return IncomingDelivery(std::move(*file), ReceivedPath());
}

Result<DeliveryHandOff::Verdict> DeliveryHandOff::Commit(
    IncomingDelivery incoming, const std::optional<DeliveryHeader>& header,
    std::string_view protocol) {
    StagedFile& file = *incoming.file_;
    if (Status finished = file.Finish(); !finished) {
        return Failure{Detail(ReceivedPath(), finished.reason())};
    }
    const std::string digest = incoming.digest_.HexDigest();
    const std::int64_t now = platform_.SystemTimeMs();
    if (header) {
        if (const DeliveryRecord* earlier = FindRepeat(*header, digest, incoming.bytes_)) {
            DeliveryRecord repeated = *earlier;
            repeated.lastSeen = now;
            repeated.batch = batchNumber_;
            // It is exported or kept already: the sender may be told so
            // whether or not this sighting is recorded.
            static_cast<void>(Record(repeated));
            observer_.Repeated(repeated);
            // Should this batch end, the sender has heard of it at last.
            batch_.push_back(repeated.number);
            return Verdict::kRepeated;
        }
    }
    DeliveryRecord record;
    record.number = ledger_.NextNumber();
    record.arrived = record.lastSeen = now;
    record.digest = digest;
    record.bytes = incoming.bytes_;
    record.header = header;
    record.candidate = header.has_value();
    record.batch = batchNumber_;
    record.protocol = protocol;
    record.staged = file.TemporaryPath();
    if (const Result<std::string> identity = platform_.FileIdentity(record.staged)) {
        record.identity = *identity;  // the staged file's is X.DAT's once it is moved
    }
    if (Status recorded = Record(record); !recorded) {
        return Failure{Detail(LedgerPath(), recorded.reason())};
    }
    // From here the delivery is the ledger's: should the move fail, or the
    // process end, the staged file it names is moved at the next chance.
    file.KeepTemporary();
    static_cast<void>(file.Publish(StagedFile::Placement::kReplace));
    committed_ = record.number;
    batch_.push_back(record.number);
    return Verdict::kStored;
}

void DeliveryHandOff::EndBatch() {
    batchOpenAtStart_ = false;
    EndCandidacy(std::exchange(batch_, {}));
}

void DeliveryHandOff::EndBatchOpenAtStart() {
    if (batchOpenAtStart_) {
        EndBatch();
    }
}

void DeliveryHandOff::EndBatch(std::uint64_t number) {
    if (number == batchNumber_) {
        EndBatch();
        return;
    }
    std::vector<std::uint64_t> numbers;
    for (const DeliveryRecord& record : ledger_.Records()) {
        if (record.batch == number && record.candidate) {
            numbers.push_back(record.number);
        }
    }
    EndCandidacy(numbers);
}

std::string DeliveryHandOff::ProtocolOpenAtStart() const {
    if (!batchOpenAtStart_ || batch_.empty()) {
        return {};
    }
    const DeliveryRecord* latest = ledger_.Find(batch_.back());
    return latest ? latest->protocol : std::string();
}

void DeliveryHandOff::EndCandidacy(const std::vector<std::uint64_t>& numbers) {
    for (const std::uint64_t number : numbers) {
        const DeliveryRecord* known = ledger_.Find(number);
        if (known && known->candidate) {
            DeliveryRecord settled = *known;
            settled.candidate = false;
            // Unrecorded, it stays a candidate: at worst a later delivery
            // with the same header and bytes is taken for its resend.
            static_cast<void>(Record(settled));
        }
    }
}

Settlement DeliveryHandOff::Settle(DeliveryRecord record) {
    Settlement settlement;
    settlement.bytes = record.bytes;
    if (!record.keptFile.empty()) {
        // An operator's export of its kept file was cut short: finished, or
        // left to the next try, but never converted from X.DAT again.
        const std::string keptPath = record.keptFile;
        const bool finished = FinishKeptExport(record, settlement.detail);
        TellWaiting();
        if (finished) {
            settlement.report.exportPath = record.file;
            observer_.SettledByOperator(record, keptPath);
        } else {
            settlement.kind = Settlement::Kind::kKept;
            settlement.result = record.result;
            settlement.keptPath = keptPath;
        }
        return settlement;
    }
    Status moved;
    if (record.state == DeliveryState::kFound) {
        settlement.result = kUnrecorded;
        settlement.detail = ReceivedPath() + ": never recorded arriving, so not converted";
        Keep(record, settlement);
    } else if (!record.staged.empty() && platform_.FileExists(record.staged) &&
               !(moved = platform_.PublishTemporary(record.staged, ReceivedPath()))) {
        // The delivery is safe in its staged file, but cannot be converted or
        // kept until it is X.DAT.
        settlement.kind = Settlement::Kind::kNotKept;
        settlement.result = std::to_string(kReceivedFileNotOpened);
        settlement.detail = Detail(record.staged, moved.reason());
    } else {
        try {
            settlement.result = Export(record, settlement.report);
        } catch (const std::exception& error) {
            settlement.result = "E";
            settlement.detail = error.what();
        }
        if (settlement.result.empty()) {
            settlement.result = "0";
            settlement.tookMs = platform_.SystemTimeMs() - record.arrived;
        } else {
            if (settlement.detail.empty()) {
                settlement.detail =
                    Detail(settlement.report.failedPath, settlement.report.errorText);
            }
            Keep(record, settlement);
        }
    }
    TellWaiting();
    observer_.Settled(record, settlement);
    // A summing table of millions of codes is gone now; so is its memory.
    platform_.ReleaseFreeMemory();
    if (ledger_.Appended() >= kPruneAfter) {
        PruneLedger();
    }
    return settlement;
}

std::string DeliveryHandOff::Export(DeliveryRecord& record, ConversionReport& report) {
    PreparedExport prepared =
        PrepareExport(settings_, platform_, decimalSeparator_, ReceivedPath());
    report = prepared.report;
    const auto failed = [&report](ConversionResult result, std::string path, std::string reason) {
        report.exportPath.clear();
        report.failedPath = std::move(path);
        report.errorText = std::move(reason);
        return std::to_string(result);
    };
    if (prepared.result != kConverted) {
        return std::to_string(prepared.result);
    }
    // Where the export goes is on disk before it goes there, so that a
    // restart finishes the move, or knows it was made, and never exports the
    // delivery a second time.
    record.state = DeliveryState::kExporting;
    record.temporary = prepared.file->TemporaryPath();
    record.file = report.exportPath;
    if (Status recorded = Record(record); !recorded) {
        record.state = DeliveryState::kReceived;
        return failed(kExportNotCreated, LedgerPath(), recorded.reason());
    }
    const Status published = prepared.file->Publish(StagedFile::Placement::kReplace);
    if (!published && !prepared.file->Moved()) {
        record.state = DeliveryState::kReceived;
        record.temporary.clear();
        record.file.clear();
        if (!Record(record)) {
            // The ledger still says the export is on its way: the next start
            // finishes the move, so it must not be kept meanwhile.
            prepared.file->KeepTemporary();
        }
        const ConversionResult result =
            settings_.Aggregation ? kWriteFailedInCodeOrder : kWriteFailedInArrivalOrder;
        return failed(result, report.exportPath, published.reason());
    }
    // Once in place a consumer may take it, whether its name is durable yet
    // or not: it counts as exported.
    record.state = DeliveryState::kExported;
    record.temporary.clear();
    static_cast<void>(Record(record));
    return {};
}

void DeliveryHandOff::Keep(DeliveryRecord& record, Settlement& settlement) {
    settlement.kind = Settlement::Kind::kNotKept;
    if (!platform_.FileExists(ReceivedPath())) {
        // Its bytes are gone; waiting for it would only turn the next
        // delivery away.
        settlement.kind = Settlement::Kind::kNothingToKeep;
        if (record.number != 0 && ledger_.Latest() && ledger_.Latest()->number == record.number) {
            record.state = DeliveryState::kSuperseded;
            static_cast<void>(Record(record));
        }
        return;
    }
    const Result<std::string> path = ChooseKeptPath(settings_, platform_, settlement.result);
    if (!path) {
        Add(settlement.detail, path.reason());
        return;
    }
    // Recorded first, like an export: a restart that finds the kept file
    // knows it is made, and one that does not, that it is still to be made.
    const DeliveryRecord before = record;
    record.state = DeliveryState::kKeeping;
    record.file = *path;
    record.result = settlement.result;
    record.why = settlement.detail;
    if (Status recorded = Record(record); !recorded) {
        record = before;
        Add(settlement.detail, Detail(LedgerPath(), recorded.reason()));
        return;
    }
    if (Status kept = platform_.KeepAs(ReceivedPath(), *path); !kept) {
        record = before;
        static_cast<void>(Record(record));
        Add(settlement.detail, Detail(*path, kept.reason()));
        return;
    }
    record.state = DeliveryState::kKept;
    static_cast<void>(Record(record));
    settlement.kind = Settlement::Kind::kKept;
    settlement.keptPath = *path;
    // So that the failure's own line says where the delivery waits.
    Add(settlement.detail, "the delivery is kept as " + *path);
}

Status DeliveryHandOff::Record(const DeliveryRecord& record) {
    Status written = ledger_.Write(record);
    if (!written) {
        observer_.LedgerFailed(Detail(LedgerPath(), written.reason()));
    }
    return written;
}

const DeliveryRecord* DeliveryHandOff::FindRepeat(const DeliveryHeader& header,
                                                  const std::string& digest,
                                                  std::uint64_t bytes) const {
    for (const DeliveryRecord& record : ledger_.Records()) {
        // Only a delivery whose bytes were exported or kept: one that was
        // lost must be taken again. One this batch has brought already
        // (delivered, or sent again) is not what its sender repeats now.
        const bool handled =
            record.state == DeliveryState::kExported || record.state == DeliveryState::kKept;
        const bool thisBatch =
            std::find(batch_.begin(), batch_.end(), record.number) != batch_.end();
        if (handled && !thisBatch && record.candidate && record.header == header && record.digest == digest &&
            record.bytes == bytes) {
            return &record;
        }
    }
    return nullptr;
}

bool DeliveryHandOff::HoldsReceivedFile(const DeliveryRecord& record) const {
    if (record.identity.empty()) {
        // Recorded before identities were (or when the file system would not
        // say): its bytes are all there is to go by.
        const auto digest = Digest(ReceivedPath());
        return digest && digest->first == record.digest;
    }
    const Result<std::string> identity = platform_.FileIdentity(ReceivedPath());
    return identity && *identity == record.identity;
}

Result<std::pair<std::string, std::uint64_t>> DeliveryHandOff::Digest(
    const std::string& path) const {
    Result<std::unique_ptr<InputFile>> file = platform_.OpenForReading(path);
    if (!file) {
        return Failure{file.reason()};
    }
    Sha256 digest;
    std::uint64_t bytes = 0;
    char block[64 * 1024];
    for (;;) {
        const std::int64_t count = (*file)->Read(block, sizeof block);
        if (count < 0) {
            return Failure{path + ": cannot be read"};
        }
        if (count == 0) {
            return std::pair(digest.HexDigest(), bytes);
        }
        digest.Update(std::string_view(block, static_cast<std::size_t>(count)));
        bytes += static_cast<std::uint64_t>(count);
    }
}

std::string DeliveryHandOff::LedgerPath() const {
    return settings_.SpoolDir + platform_.PathSeparator() + DeliveryLedger::kFileName;
}

}  // namespace vorlund
