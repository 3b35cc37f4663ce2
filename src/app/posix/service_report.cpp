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
constexpr char kKeptExported[] = "Sparad leverans exporterad";
constexpr char kKeptNotExported[] = "Sparad leverans kunde inte exporteras";
constexpr char kUnrecognisedBytes[] = "Ok\xE4nda byte p\xE5 linjen";
// The state's note while deliveries wait for an operator.
constexpr char kOneWaits[] = "1 sparad leverans v\xE4ntar";
constexpr char kSomeWait[] = " sparade leveranser v\xE4ntar";

// "ZMODEM", as the settings file and the README write it, of the ledger's
// "zmodem".
std::string UpperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

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
    const std::string protocol = UpperCase(record.protocol);
    if (settlement.kind == Settlement::Kind::kKept) {
        journal_.Write(Priority::kWarning, kDeliveryKept,
                       settlement.keptPath + " (" + Described(record) +
                           (protocol.empty() ? "" : ", " + protocol) + ")" + WaitingDetail());
        return;
    }
    std::string arrivedBy = protocol.empty() ? "" : ", " + protocol;
    if (record.header && !record.header->name.empty()) {
        arrivedBy += ", " + record.header->name;
    }
    if (settlement.kind != Settlement::Kind::kExported) {
        return;  // the cycle's message says so
    }
    const ConversionReport& report = settlement.report;
    const std::string records = std::to_string(report.records) + " poster";
    journal_.Write(Priority::kInfo, kDeliveryConverted,
                   std::to_string(record.bytes) + " byte, " + records + ", " +
                       std::to_string(report.exportLines) + " rader till " + report.exportPath +
                       ", " + std::to_string(settlement.tookMs) + " ms" + arrivedBy);
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

void ServiceReport::Waiting(std::size_t count) {
    waiting_ = count;
    std::string note;
    if (count > 0) {
        note = count == 1 ? kOneWaits : std::to_string(count) + kSomeWait;
        note += " (vorlund-convert --pending " + service_.appDir + ")";
    }
    journal_.SetStatusNote(note);
}

std::string ServiceReport::WaitingDetail() const {
    if (waiting_ == 0 || service_.appDir.empty()) {
        return {};
    }
    return "; " + std::to_string(waiting_) + (waiting_ == 1 ? " delivery waits" : " deliveries wait") +
           ": vorlund-convert --settle " + service_.appDir + " once the fault is put right";
}

void ServiceReport::SettledByOperator(const DeliveryRecord& record, std::string_view keptPath) {
    journal_.Write(Priority::kNotice, kKeptExported,
                   std::string(keptPath) + " to " + record.file + " (" + Described(record) +
                       "); the kept file is removed, " +
                       (waiting_ == 0 ? std::string("nothing else waits")
                                      : std::to_string(waiting_) + " still wait"));
}

void ServiceReport::OperatorSettlementFailed(std::string_view keptPath, std::string_view detail) {
    journal_.Write(Priority::kWarning, kKeptNotExported,
                   std::string(keptPath) + ": " + std::string(detail) + "; it stays kept");
}

void ServiceReport::UnrecognisedBytes(std::size_t count) {
    const std::optional<RepeatedEvent::Line> line =
        unrecognised_.Occurred("bytes", journal_.Now(), count);
    if (!line) {
        return;
    }
    std::string detail = service_.device + ": " + std::to_string(line->count) +
                         " byte that no protocol takes";
    if (line->events > 1) {
        detail += " in " + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(line->over).count()) + " s";
    }
    detail += ": does the terminal send at the line's speed (" + std::to_string(service_.baudRate) +
              " bit/s, BaudRate=" + std::to_string(service_.baudRateIndex) +
              "), and is its cable whole?";
    journal_.Write(Priority::kWarning, kUnrecognisedBytes, detail);
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
            const std::string reason = Cp1252ToUtf8(Reason(outcome, largestFile_)) +
                                       (outcome.reason.empty() ? "" : ": " + outcome.reason);
            const std::string detail = (outcome.name.empty() ? "" : outcome.name + ": ") + reason;
            journal_.WriteTransferFailure(kTransferFailed, detail, reason);
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
