// An operator settles what waits, once the fault that kept it is put right:
// each kept file is exported under the service's rules, the export on disk
// and recorded before the kept file goes.
#include <tuple>

#include "conversion/export_path.h"
#include "delivery/delivery_hand_off.h"
#include "delivery/kept_delivery.h"
#include "delivery/waiting_deliveries.h"

namespace vorlund {
namespace {

// Why a kept X.DAT was never converted: it was never recorded arriving.
constexpr char kUnrecordedResult[] = "U";

std::string Detail(const std::string& path, const std::string& reason) {
    return reason.empty() ? path : path + ": " + reason;
}

std::string_view NameOf(std::string_view path) {
    const std::size_t last = path.find_last_of("/\\");
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

DeliveryHandOff::OperatorSettlement Failed(const std::string& path, std::string result,
                                           std::string detail) {
    DeliveryHandOff::OperatorSettlement failed;
    failed.path = path;
    failed.result = std::move(result);
    failed.detail = std::move(detail);
    return failed;
}

}  // namespace

std::size_t DeliveryHandOff::WaitingCount() const {
    return CountWaiting(settings_, platform_, ledger_);
}

void DeliveryHandOff::TellWaiting() {
    observer_.Waiting(WaitingCount());
}

std::vector<DeliveryHandOff::OperatorSettlement> DeliveryHandOff::SettleWaiting(
    const std::string& only) {
    std::vector<OperatorSettlement> done;
    if (only.empty()) {
        if (const DeliveryRecord* latest = UnsettledLatest(ledger_)) {
            // The rules of its arrival: exported, or else kept.
            const Settlement settlement = Settle(*latest);
            OperatorSettlement& outcome = done.emplace_back();
            outcome.path = ReceivedPath();
            if (settlement.kind == Settlement::Kind::kExported) {
                outcome.exported = true;
                outcome.exportPath = settlement.report.exportPath;
            } else {
                outcome.result = settlement.result;
                outcome.detail = settlement.detail;
            }
        }
    }
    const std::string fixedExport =
        settings_.UseOutFile ? BuildExportPath(settings_, {}, platform_.PathSeparator()) : "";
    bool found = false;
    for (const std::string& path : KeptFiles(settings_, platform_)) {
        if (!only.empty() && path != only && NameOf(path) != NameOf(only)) {
            continue;
        }
        found = true;
        if (only.empty() && KeptResultOf(path) == kUnrecordedResult) {
            OperatorSettlement& skipped = done.emplace_back();
            skipped.path = path;
            skipped.result = kUnrecordedResult;
            skipped.skipped = true;
            skipped.detail = "X.DAT was never recorded arriving, so it may be a write that did "
                             "not finish: look at it, then settle it by its name";
            continue;
        }
        done.push_back(SettleKeptFile(path));
        if (!fixedExport.empty() && platform_.FileExists(fixedExport)) {
            break;  // the next one would replace an export nobody has taken yet
        }
    }
    if (!only.empty() && !found) {
        done.push_back(Failed(only, std::to_string(kNoReceivedFile),
                              only + ": no such kept delivery in " + settings_.SpoolDir +
                                  platform_.PathSeparator() + kKeptFolder));
    }
    TellWaiting();
    return done;
}

DeliveryHandOff::OperatorSettlement DeliveryHandOff::SettleKeptFile(const std::string& path) {
    DeliveryRecord record;
    if (const DeliveryRecord* known = RecordOfKeptFile(ledger_, path)) {
        record = *known;
    } else {
        // Kept by a version that forgot its kept deliveries' records: it is
        // recorded now, so that its export can be too.
        const auto digest = Digest(path);
        if (!digest) {
            return Failed(path, std::to_string(kReceivedFileNotOpened), Detail(path, digest.reason()));
        }
        record.number = ledger_.NextNumber();
        record.state = DeliveryState::kKept;
        record.arrived = record.lastSeen = platform_.SystemTimeMs();
        std::tie(record.digest, record.bytes) = *digest;
        record.file = path;
        record.result = KeptResultOf(path);
        record.keptOnly = true;
        if (Status recorded = Record(record); !recorded) {
            return Failed(path, std::to_string(kExportNotCreated),
                          Detail(LedgerPath(), recorded.reason()));
        }
    }
    OperatorSettlement outcome;
    outcome.path = path;
    if (!record.keptFile.empty()) {
        // An earlier settlement of it was cut short.
        std::string failure;
        if (!FinishKeptExport(record, failure)) {
            return Failed(path, std::to_string(kExportNotCreated), failure);
        }
        outcome.exported = true;
        outcome.exportPath = record.file;
        TellWaiting();
        observer_.SettledByOperator(record, path);
        return outcome;
    }
    if (settings_.UseOutFile) {
        const std::string fixed = BuildExportPath(settings_, {}, platform_.PathSeparator());
        if (platform_.FileExists(fixed)) {
            return Failed(path, std::to_string(kExportNotCreated),
                          fixed + ": the fixed export file is still there: once the importer "
                                  "has taken it, settle again");
        }
    }

    PreparedExport prepared = PrepareExport(settings_, platform_, decimalSeparator_, path);
    if (prepared.result != kConverted) {
        const ConversionReport& report = prepared.report;
        observer_.OperatorSettlementFailed(path, Detail(report.failedPath, report.errorText));
        return Failed(path, std::to_string(prepared.result),
                      Detail(report.failedPath, report.errorText));
    }
    // Where the export goes, and from which kept file, is on disk before it
    // goes there: a restart finishes the move, or knows it was made, and
    // never converts the kept file a second time.
    const DeliveryRecord kept = record;
    record.state = DeliveryState::kExporting;
    record.keptFile = path;
    record.temporary = prepared.file->TemporaryPath();
    record.file = prepared.report.exportPath;
    if (Status recorded = Record(record); !recorded) {
        return Failed(path, std::to_string(kExportNotCreated),
                      Detail(LedgerPath(), recorded.reason()));
    }
    const Status published = prepared.file->Publish(StagedFile::Placement::kReplace);
    if (!published && !prepared.file->Moved()) {
        if (!Record(kept)) {
            // The ledger still says the export is on its way: it must be
            // there for the next try to finish the move.
            prepared.file->KeepTemporary();
        }
        observer_.OperatorSettlementFailed(path, Detail(record.file, published.reason()));
        return Failed(path,
                      std::to_string(settings_.Aggregation ? kWriteFailedInCodeOrder
                                                           : kWriteFailedInArrivalOrder),
                      Detail(record.file, published.reason()));
    }
    if (!platform_.FileExists(record.file)) {
        // Said to be in place, yet not there: the kept file stays until a
        // later try finds the ledger's word for it.
        return Failed(path, std::to_string(kExportNotCreated),
                      record.file + ": not on disk after it was moved into place");
    }
    std::string failure;
    if (!FinishKeptExport(record, failure)) {
        // In place, but not recorded as such, or the kept file is still
        // there: what is left is done at the next try, never a second export.
        return Failed(path, std::to_string(kExportNotCreated), failure);
    }
    outcome.exported = true;
    outcome.exportPath = record.file;
    TellWaiting();
    observer_.SettledByOperator(record, path);
    return outcome;
}

bool DeliveryHandOff::FinishKeptExport(DeliveryRecord& record, std::string& failure) {
    if (record.state == DeliveryState::kExporting) {
        // Moved into place now, or it was before (its temporary file is
        // gone): either way the kept file has its export.
        if (platform_.FileExists(record.temporary)) {
            if (Status moved = platform_.PublishTemporary(record.temporary, record.file);
                !moved && platform_.FileExists(record.temporary)) {
                failure = Detail(record.file, moved.reason());
                return false;
            }
        }
        record.state = DeliveryState::kExported;
        record.temporary.clear();
        if (Status recorded = Record(record); !recorded) {
            failure = Detail(LedgerPath(), recorded.reason());
            return false;
        }
    }
    if (record.state != DeliveryState::kExported) {
        failure = record.keptFile + ": its settlement is in an unknown state";
        return false;
    }
    // Only now that its export is on disk and recorded does the kept file go.
    if (platform_.FileExists(record.keptFile)) {
        if (Status removed = platform_.RemoveFile(record.keptFile); !removed) {
            failure = record.file + " is exported, but the kept file could not be removed: " +
                      Detail(record.keptFile, removed.reason());
            return false;
        }
    }
    return true;
}

}  // namespace vorlund
