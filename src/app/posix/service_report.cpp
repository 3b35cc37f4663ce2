#include "app/posix/service_report.h"

#include "common/cp1252.h"
#include "download/protocol_receiver.h"
#include "platform/date_time_text.h"

namespace vorlund {
namespace {

using Kind = TransferOutcome::Kind;

constexpr char kDeliveryConverted[] = "Leverans mottagen";
constexpr char kLatestDelivery[] = "Senaste leverans";
constexpr char kDeliveryKept[] = "Leveransen sparades undan";
constexpr char kRepeatedDelivery[] = "Upprepad leverans konverteras inte igen";
constexpr char kRecovered[] = "Leverans efter avbrott";
constexpr char kLedgerFailed[] = "Leveransloggen kunde inte skrivas";
constexpr char kLedgerDamaged[] = "Skadad rad i leveransloggen hoppades \xF6ver";
constexpr char kCannotCreateFile[] = "Fel vid skapande av destinationsfil!";
constexpr char kTransferFailed[] = "\xD6verf\xF6ringen misslyckades";
constexpr char kLineOpenedAgain[] = "COM-port \xF6ppnad igen";
constexpr char kTransferContinued[] = "\xD6verf\xF6ringen fortsatte d\xE4r den avbr\xF6ts";

// Why a transfer ended without a delivery, in code page 1252.
std::string Reason(const TransferOutcome& outcome, std::uint64_t largestFile) {
    switch (outcome.kind) {
        case Kind::kAbortedBySender:
            return "avbruten av avs\xE4ndaren";
        case Kind::kProtocolError:
            return "fel i protokollet";
        case Kind::kGivenUp:
            return "inget svar fr\xE5n avs\xE4ndaren";
        case Kind::kShortFile:
            return "kortare \xE4n den angivna storleken";
        case Kind::kLongerThanAnnounced:
            return "l\xE4ngre \xE4n den angivna storleken";
        case Kind::kTooLarge:
            if (largestFile < kLargestTransfer) {
                return "st\xF6rre \xE4n RLIMIT_FSIZE (" + std::to_string(largestFile) +
                       " byte), den st\xF6rsta fil tj\xE4nsten f\xE5r skriva";
            }
            return "st\xF6rre \xE4n " + std::to_string(kLargestTransfer >> 20) + " MiB";
        case Kind::kRefused:
            return "nekad";
        case Kind::kSenderReplaced:
            return "en ny avs\xE4ndare b\xF6rjade om";
        case Kind::kStopped:
            return "mottagningen stoppades";
        case Kind::kNotStored:
        case Kind::kFileReceived:
            break;
    }
    return {};
}

std::string Described(const DeliveryRecord& record) {
    std::string text = "leverans " + std::to_string(record.number);
    if (record.header && !record.header->name.empty()) {
        text += " (" + record.header->name + ")";
    }
    return text + ", " + std::to_string(record.bytes) + " byte";
}

}  // namespace

void ServiceReport::Settled(const DeliveryRecord& record, const Settlement& settlement) {
    if (settlement.kind == Settlement::Kind::kKept) {
        journal_.Write(Priority::kWarning, kDeliveryKept, settlement.keptPath);
        return;
    }
    if (settlement.kind != Settlement::Kind::kExported) {
        return;  // the cycle's message says so
    }
    const ConversionReport& report = settlement.report;
    const std::string records = std::to_string(report.records) + " poster";
    journal_.Write(Priority::kInfo, kDeliveryConverted,
                   std::to_string(record.bytes) + " byte, " + records + ", " +
                       std::to_string(report.exportLines) + " rader till " + report.exportPath +
                       ", " + std::to_string(settlement.tookMs) + " ms");
    journal_.SetStatus(
        std::string(kLatestDelivery) + " " + DateTimeText(platform_.LocalTime(), "-", " ", ":"),
        records + ", " + report.exportPath);
}

void ServiceReport::Repeated(const DeliveryRecord& record) {
    journal_.Write(Priority::kInfo, kRepeatedDelivery, Described(record));
}

void ServiceReport::Recovered(const DeliveryRecord& record, std::string_view what) {
    journal_.Write(Priority::kWarning, kRecovered, Described(record) + ": " + std::string(what));
}

void ServiceReport::LedgerFailed(std::string_view what) {
    journal_.Write(Priority::kError, kLedgerFailed, what);
}

void ServiceReport::LedgerDamaged(std::string_view what) {
    journal_.Write(Priority::kError, kLedgerDamaged, what);
}

void ServiceReport::TransferEnded(const TransferOutcome& outcome) {
    switch (outcome.kind) {
        case Kind::kFileReceived:
            journal_.EndTransferFailures();
            if (outcome.resumedFrom > 0) {
                journal_.Write(Priority::kInfo, kTransferContinued,
                               outcome.name + ": " + std::to_string(outcome.resumedFrom) +
                                   " av " + std::to_string(outcome.bytes) + " byte");
            }
            return;
        case Kind::kNotStored:
            // The terminal keeps its data, but an operator must act.
            journal_.Write(Priority::kError, kCannotCreateFile, outcome.reason);
            return;
        default: {
            // Names and the system's reasons come as the system has them; our
            // own words are converted like the message.
            std::string detail = outcome.name.empty() ? "" : outcome.name + ": ";
            detail += Cp1252ToUtf8(Reason(outcome, largestFile_));
            if (!outcome.reason.empty()) {
                detail += ": " + outcome.reason;
            }
            journal_.WriteTransferFailure(kTransferFailed, detail);
        }
    }
}

void ServiceReport::ReceptionStarted() {
    if (!ready_) {
        ready_ = true;
        manager_.Ready();
    }
}

void ServiceReport::LineBack(std::string_view device) {
    journal_.EndRecurringFault(kLineOpenedAgain, device);
}

}  // namespace vorlund
