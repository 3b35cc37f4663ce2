// Start-up: whatever a crash or power cut interrupted is brought as far as
// the ledger's records allow, before the first reception.
#include <algorithm>
#include <tuple>

#include "delivery/delivery_hand_off.h"
#include "delivery/kept_delivery.h"

namespace vorlund {
namespace {

// The hidden temporary names the platform gives staged files of `target`:
// ".TARGET.<pid>-<n>.tmp".
bool IsStagedName(const std::string& name, const std::string& target) {
    const std::string prefix = "." + target + ".";
    const std::string suffix = ".tmp";
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    const std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return middle.find_first_not_of("0123456789-") == std::string::npos;
}

}  // namespace

Result<std::unique_ptr<DeliveryHandOff>> DeliveryHandOff::Open(const ServiceSettings& settings,
                                                               const Platform& platform,
                                                               char decimalSeparator,
                                                               DeliveryObserver& observer,
                                                               Writer writer) {
    const std::string path = settings.SpoolDir + platform.PathSeparator() + DeliveryLedger::kFileName;
    Result<DeliveryLedger> ledger = DeliveryLedger::Open(platform, path, settings.AppDir);
    if (!ledger) {
        return Failure{path + ": " + ledger.reason()};
    }
    for (const DeliveryLedger::DamagedLine& line : ledger->Damaged()) {
        observer.LedgerDamaged(path + ", line " + std::to_string(line.number) + ": " + line.text);
    }
    std::unique_ptr<DeliveryHandOff> handOff(
        new DeliveryHandOff(settings, platform, decimalSeparator, observer, std::move(*ledger)));
    handOff->writer_ = writer;
    handOff->Recover();
    handOff->RecoverUnknownReceivedFile();
    handOff->RemoveStaleStagedFiles();
    handOff->PruneLedger();
    handOff->RestoreOpenBatch();
    handOff->TellWaiting();
    return handOff;
}

void DeliveryHandOff::Recover() {
    const std::vector<DeliveryRecord> records = ledger_.Records();
    for (DeliveryRecord record : records) {
        if (!record.keptFile.empty()) {
            // An operator's export of a kept file: finished, never made
            // again; one that cannot be finished yet waits for the next try.
            const bool wasExporting = record.state == DeliveryState::kExporting;
            if (std::string failure; FinishKeptExport(record, failure) && wasExporting) {
                observer_.Recovered(record, "export of the kept file " + record.keptFile +
                                                " completed: " + record.file);
            }
            continue;
        }
        switch (record.state) {
            case DeliveryState::kReceived:
                // Recorded, but perhaps not yet moved into place.
                if (!record.staged.empty() && platform_.FileExists(record.staged) &&
                    platform_.PublishTemporary(record.staged, ReceivedPath())) {
                    observer_.Recovered(record, "moved into place as X.DAT");
                }
                break;
            case DeliveryState::kExporting:
                // Written and recorded: moved into place now, or it was before
                // the interruption (and a consumer may have taken it since).
                if (platform_.FileExists(record.temporary) &&
                    !platform_.PublishTemporary(record.temporary, record.file)) {
                    record.state = DeliveryState::kReceived;
                } else {
                    record.state = DeliveryState::kExported;
                    observer_.Recovered(record, "export completed: " + record.file);
                }
                record.temporary.clear();
                static_cast<void>(Record(record));
                break;
            case DeliveryState::kKeeping:
                record.state = platform_.FileExists(record.file) ? DeliveryState::kKept
                                                                 : DeliveryState::kReceived;
                if (record.state == DeliveryState::kReceived) {
                    record.file.clear();
                    record.result.clear();
                }
                static_cast<void>(Record(record));
                break;
            default:
                break;
        }
    }
}

void DeliveryHandOff::RecoverUnknownReceivedFile() {
    if (!platform_.FileExists(ReceivedPath())) {
        return;
    }
    const DeliveryRecord* latest = ledger_.Latest();
    if (latest && HoldsReceivedFile(*latest)) {
        return;
    }
    // Not the delivery the ledger says X.DAT holds, even if its bytes are
    // those of one settled before: a terminal may well deliver the same
    // count twice, and on Windows the control may have written the second
    // before a crash kept it from being announced.
    const auto digest = Digest(ReceivedPath());
    if (!digest) {
        return;
    }
    DeliveryRecord record;
    record.number = ledger_.NextNumber();
    record.arrived = record.lastSeen = platform_.SystemTimeMs();
    std::tie(record.digest, record.bytes) = *digest;
    if (const Result<std::string> identity = platform_.FileIdentity(ReceivedPath())) {
        record.identity = *identity;
    }
    if (latest && !latest->Settled()) {
        // X.DAT is not the delivery the ledger says is waiting in it, nor in
        // the file staged for it: its bytes are gone.
        DeliveryRecord superseded = *latest;
        superseded.state = DeliveryState::kSuperseded;
        static_cast<void>(Record(superseded));
        observer_.Recovered(superseded, "lost: neither X.DAT nor its staged file holds it");
    }
    if (!ledger_.Existed()) {
        // The first start with a ledger: X.DAT is the delivery that the
        // program before it had converted when it arrived.
        record.state = DeliveryState::kAdopted;
        static_cast<void>(Record(record));
        return;
    }
    if (!ledger_.Damaged().empty()) {
        // The damaged line may be the one that said X.DAT was exported: it is
        // neither converted nor kept for an operator to convert, but left
        // where it is, for whoever reads the journal to decide.
        record.state = DeliveryState::kAdopted;
        static_cast<void>(Record(record));
        observer_.Recovered(record,
                            "X.DAT not converted: a damaged line of the ledger may have been its "
                            "record; check whether it was exported before converting it");
        return;
    }
    // Never recorded arriving: a write that may not have finished, so it is
    // kept, not converted.
    record.state = DeliveryState::kFound;
    if (Record(record)) {
        const Settlement settlement = Settle(record);
        observer_.Recovered(record, settlement.kind == Settlement::Kind::kKept
                                        ? "X.DAT was never recorded arriving, so it is not "
                                          "converted: kept as " + settlement.keptPath
                                        : "X.DAT was never recorded arriving, so it is not "
                                          "converted, and it could not be kept: " +
                                              settlement.detail);
    }
}

void DeliveryHandOff::RemoveStaleStagedFiles() {
    const DeliveryRecord* latest = ledger_.Latest();
    for (const std::string& name : platform_.ListDirectory(settings_.SpoolDir)) {
        const std::string path = settings_.SpoolDir + platform_.PathSeparator() + name;
        // A delivery's or a rewritten ledger's, left by an interruption.
        const bool staged =
            IsStagedName(name, "X.DAT") || IsStagedName(name, DeliveryLedger::kFileName);
        if (staged && !(latest && !latest->Settled() && latest->staged == path)) {
            transferCutAtStart_ = transferCutAtStart_ || IsStagedName(name, "X.DAT");
            static_cast<void>(platform_.RemoveFile(path));
        }
    }
    // A kept copy that an interruption left half made, where the file system
    // has no hard links; its record, if any, says it is still to be made.
    const std::string kept = settings_.SpoolDir + platform_.PathSeparator() + kKeptFolder;
    for (const std::string& name : platform_.ListDirectory(kept)) {
        const std::size_t end = name.rfind(".DAT.");
        if (end != std::string::npos && IsStagedName(name, name.substr(1, end + 3))) {
            static_cast<void>(platform_.RemoveFile(kept + platform_.PathSeparator() + name));
        }
    }
}

void DeliveryHandOff::RestoreOpenBatch() {
    // A sender may end its batch just as the service goes down: its empty
    // header then reaches the next start, before anything else on the line.
    for (const DeliveryRecord& record : ledger_.Records()) {
        batchNumber_ = std::max(batchNumber_, record.batch);
    }
    for (const DeliveryRecord& record : ledger_.Records()) {
        if (batchNumber_ != 0 && record.batch == batchNumber_ && record.candidate) {
            batch_.push_back(record.number);
        }
    }
    batchOpenAtStart_ = !batch_.empty();
}

void DeliveryHandOff::PruneLedger() {
    // The newest candidates stay candidates; older ones are forgotten.
    const auto& records = ledger_.Records();
    std::size_t candidates = 0;
    std::uint64_t oldestCandidate = 0;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (record->candidate && ++candidates == kMostCandidates) {
            oldestCandidate = record->number;
            break;
        }
    }
    // A kept delivery's record stays while its kept file waits for an
    // operator: it says when it came, from whom and why it was kept.
    const auto waits = [this](const DeliveryRecord& record) {
        return (record.state == DeliveryState::kKept && platform_.FileExists(record.file)) ||
               (!record.keptFile.empty() && platform_.FileExists(record.keptFile));
    };
    const auto needed = [oldestCandidate, &waits](const DeliveryRecord& record) {
        return !record.Settled() || (record.candidate && record.number >= oldestCandidate) ||
               waits(record);
    };
    if (ledger_.Appended() == 0 && ledger_.Damaged().empty() &&
        std::all_of(records.begin(), records.end(), needed)) {
        return;
    }
    if (Status pruned = ledger_.Prune(needed); !pruned) {
        observer_.LedgerFailed(LedgerPath() + ": " + pruned.reason());
    }
}

}  // namespace vorlund
