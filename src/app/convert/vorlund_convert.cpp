// vorlund-convert [APPDIR [FILE]]: one conversion run, as the service does it
// when a delivery has arrived, for support staff and scripts; with FILE, of a
// kept delivery where it lies.
// vorlund-convert --pending [APPDIR]: what waits for an operator there.
// vorlund-convert --settle [APPDIR [KEPTFILE]]: settles it, under the
// service's rules: through the running service, which does it itself, or,
// when none runs, here.
//
// Exit status: the ConversionResult (0, 1, 2, 50, 51, 52); 101 or 102 when the
// spool or output directory can neither be found nor made; 103 and 104 as the
// service's 3 and 4 (APPDIR cannot be taken over from root, or the service
// works in it); 64 on a bad command line. A failed run says on stderr which
// file failed and why.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>

#include "app/application_claim.h"
#include "app/command_line.h"
#include "app/convert/service_request.h"
#include "app/settle_reply.h"
#include "common/console_info_box.h"
#include "conversion/convert_received_file.h"
#include "delivery/delivery_hand_off.h"
#include "delivery/waiting_deliveries.h"
#include "platform/platform.h"
#include "settings/load_service_settings.h"
#include "settings/parse_integer.h"
#include "settings/settings_file.h"

namespace {

constexpr int kStartupFailureBase = 100;
constexpr char kProgram[] = "vorlund-convert";
constexpr char kPending[] = "--pending";
constexpr char kSettle[] = "--settle";
constexpr char kCannotCreateExport[] = "Fel vid skapande av destinationsfil!";

constexpr char kHelp[] =
    "Usage: vorlund-convert [APPDIR [FILE]]\n"
    "       vorlund-convert --pending [APPDIR]\n"
    "       vorlund-convert --settle [APPDIR [KEPTFILE]]\n"
    "Converts APPDIR/Spool/X.DAT, or FILE, once into an export file, as the\n"
    "Vorlund service does when a delivery has arrived, and prints the export\n"
    "file's path. It neither reads nor writes the service's delivery ledger.\n"
    "\n"
    "      --pending  list what waits for an operator in APPDIR: each kept\n"
    "                 delivery in Spool/Okonverterade, and a delivery in X.DAT\n"
    "                 neither exported nor kept; one line each, TAB between the\n"
    "                 fields: file, arrived, line, protocol, sender's file name,\n"
    "                 bytes, why it waits. Changes nothing.\n"
    "      --settle   once the fault that kept them is put right: export each of\n"
    "                 them (or KEPTFILE alone) into Out under the service's rules,\n"
    "                 record it in the ledger and only then remove the kept file.\n"
    "                 While the service runs, the service does it itself (and its\n"
    "                 journal says so); a kept X.DAT never recorded arriving (-U)\n"
    "                 is settled only when named. Prints each export's path.\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "APPDIR is the application directory, holding Vorlund.ini and Spool\n"
    "(default: the directory of this program, but never a system directory such\n"
    "as /usr/bin). On Linux, run as root, it works as the owner of APPDIR.\n"
    "\n"
    "Exit status: 0 the export was written (--settle: every one tried); 1 no X.DAT\n"
    "(or FILE; --pending: the ledger cannot be read); 2 it cannot be opened; 50 the\n"
    "export cannot be created; 51, 52 a write to it failed; 101, 102 the spool or\n"
    "output directory can neither be found nor made (--pending: APPDIR has no\n"
    "Spool); 103 APPDIR cannot be taken\n"
    "over from root; 104 the service works in APPDIR (--settle: and cannot be\n"
    "asked); 64 bad command line.\n";

void PrintLine(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
}

std::string LedgerPath(const vorlund::ServiceSettings& settings, const vorlund::Platform& platform) {
    return settings.SpoolDir + platform.PathSeparator() + vorlund::DeliveryLedger::kFileName;
}

// The line the application directory's service receives on, as its
// settings name it.
std::string LineOf(const vorlund::ServiceSettings& settings, const vorlund::Platform& platform) {
    vorlund::SettingsFile file;
    file.Load(platform, settings.AppDir + "Vorlund.ini");
    if (std::string device = file.Value("SerialDevice"); !device.empty()) {
        return device;
    }
    return platform.PathSeparator() == '/'
               ? "/dev/ttyS" + std::to_string(settings.ComPortIndex)
               : "COM" + std::to_string(static_cast<long long>(settings.ComPortIndex) + 1);
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

int ListPending(const std::string& executable, const vorlund::Platform& platform) {
    using namespace vorlund;
    const ServiceSettings settings = ReadServiceSettings(executable, platform);
    if (!platform.IsDirectory(settings.SpoolDir)) {
        // A mistyped directory must not read as one where nothing waits.
        PrintLine(stderr, std::string(kProgram) + ": " + settings.SpoolDir +
                              ": no spool directory: not an application directory");
        return kStartupFailureBase + kSpoolDirectoryFailure;
    }
    const Result<DeliveryLedger> ledger =
        DeliveryLedger::Read(platform, LedgerPath(settings, platform), settings.AppDir);
    if (!ledger) {
        PrintLine(stderr, TerminalText("Leveransloggen kunde inte l\xE4sas") + ": " +
                              LedgerPath(settings, platform) + ": " + ledger.reason());
        return 1;
    }
    const std::string line = LineOf(settings, platform);
    for (const WaitingDelivery& waiting : ListWaiting(settings, platform, *ledger)) {
        std::string why = waiting.result.empty() ? KeptReasonText(waiting.result)
                                                 : "kept for " + waiting.result + ": " +
                                                       KeptReasonText(waiting.result);
        if (!waiting.why.empty()) {
            why += " (" + waiting.why + ")";
        }
        const auto field = [](const std::string& text) { return text.empty() ? "-" : text; };
        PrintLine(stdout, waiting.path + "\t" + field(waiting.since) + "\t" + line + "\t" +
                              field(Upper(waiting.protocol)) + "\t" + field(waiting.name) + "\t" +
                              (waiting.bytes ? std::to_string(*waiting.bytes) : "-") + "\t" + why);
    }
    return 0;
}

// What the command says of a settlement, wherever it was made; its exit
// status.
int ReportSettled(const vorlund::SettleReply& reply, const std::string& appDir) {
    int status = 0;
    for (const auto& one : reply.settled) {
        if (one.exported) {
            PrintLine(stdout, one.exportPath);
            PrintLine(stderr, "exported " + one.path + " to " + one.exportPath);
        } else if (one.skipped) {
            PrintLine(stderr, "not settled: " + one.path + ": " + one.detail);
        } else {
            PrintLine(stderr, vorlund::TerminalText(kCannotCreateExport) + " (" + one.result +
                                  "): " + one.path + ": " + one.detail);
            if (status == 0) {
                const std::optional<std::int32_t> result = vorlund::ParseInteger(one.result);
                status = result && *result > 0 ? *result : vorlund::kExportNotCreated;
            }
        }
    }
    if (reply.waiting > 0) {
        PrintLine(stderr, std::to_string(reply.waiting) +
                              (reply.waiting == 1 ? " delivery still waits" : " deliveries still wait") +
                              ": vorlund-convert --pending " + appDir);
    }
    return status;
}

// What the service would tell its journal, for the operator at the command.
class ConsoleReport final : public vorlund::DeliveryObserver {
  public:
    void Recovered(const vorlund::DeliveryRecord& record, std::string_view what) override {
        PrintLine(stderr, vorlund::TerminalText("Leverans efter avbrott") + ": leverans " +
                              std::to_string(record.number) + ": " + std::string(what));
    }
    void LedgerFailed(std::string_view what) override {
        PrintLine(stderr, vorlund::TerminalText("Leveransloggen kunde inte skrivas") + ": " +
                              std::string(what));
    }
    void LedgerDamaged(std::string_view what) override {
        PrintLine(stderr,
                  vorlund::TerminalText("Skadad rad i leveransloggen hoppades \xF6ver") + ": " +
                      std::string(what));
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace vorlund;
    const Platform& platform = NativePlatform();
    const CommandLine command = RequireApplicationDirectory(
        ParseCommandLine(argc, argv, true, {{kPending, false}, {kSettle, true}}),
        platform.ExecutablePath(), platform.PathSeparator());
    if (const auto status = AnswerWithoutRunning(command, kProgram, kHelp)) {
        return *status;
    }
    const std::string executable =
        command.appDir ? ExecutablePathIn(*command.appDir, platform.PathSeparator(), kProgram)
                       : platform.ExecutablePath();
    if (command.mode == kPending) {
        // Read as it is, beside a running service too: nothing is claimed.
        return ListPending(executable, platform);
    }
    if (command.mode == kSettle && !CanSettleHere()) {
        PrintLine(stderr, std::string(kProgram) +
                              ": --settle is not available on this system: close Vorlund, "
                              "convert each kept file with vorlund-convert . FILE and delete it "
                              "once its export is there");
        return kUsageExitCode;
    }
    // The service's own refusal, and before anything in APPDIR is made.
    const auto claim = ClaimApplicationDirectory(executable, platform.PathSeparator());
    if (const auto* refusal = std::get_if<StartRefusal>(&claim)) {
        std::string line = TerminalText(refusal->text) + ": " + refusal->detail;
        if (command.mode == kSettle && refusal->exitCode == kAlreadyRunningExitCode) {
            // The service settles what waits itself: the ledger keeps its one
            // writer.
            const ServiceSettings settings = ReadServiceSettings(executable, platform);
            const Result<SettleReply> reply =
                AskServiceToSettle(settings.SpoolDir, command.file.value_or(std::string()));
            if (reply) {
                return ReportSettled(*reply, settings.AppDir.substr(0, settings.AppDir.size() - 1));
            }
            line += "; it cannot be asked to settle: " + reply.reason() +
                    "; stop it, then settle again";
        }
        PrintLine(stderr, line);
        return kStartupFailureBase + refusal->exitCode;
    }

    ConsoleInfoBox infoBox(stderr, TerminalText);
    const auto loaded = LoadServiceSettings(executable, platform, infoBox);
    if (const auto* failure = std::get_if<StartupFailure>(&loaded)) {
        return kStartupFailureBase + failure->exitCode;
    }
    const ServiceSettings& settings = std::get<ServiceSettings>(loaded);

    if (command.mode == kSettle) {
        // No service runs here, and none can start while this one holds the
        // directory: the service's start-up rules, then the settlement.
        ConsoleReport report;
        Result<std::unique_ptr<DeliveryHandOff>> handOff =
            DeliveryHandOff::Open(settings, platform, UserDecimalSeparator(), report,
                                  DeliveryHandOff::Writer::kHandOff);
        if (!handOff) {
            PrintLine(stderr, TerminalText("Leveransloggen kunde inte skrivas") + ": " +
                                  handOff.reason());
            return kExportNotCreated;
        }
        SettleReply reply;
        reply.settled = (*handOff)->SettleWaiting(command.file.value_or(std::string()));
        reply.waiting = (*handOff)->WaitingCount();
        return ReportSettled(reply, settings.AppDir.substr(0, settings.AppDir.size() - 1));
    }

    ConversionReport report;
    const ConversionResult result =
        ConvertReceivedFile(settings, platform, UserDecimalSeparator(), &report,
                            command.file.value_or(std::string()));
    if (result != kConverted) {
        // Paths and the system's texts are already in the terminal's encoding.
        std::string line = TerminalText(kCannotCreateExport) + " (" +
                           std::to_string(static_cast<int>(result)) + "): " + report.failedPath;
        if (!report.errorText.empty()) {
            line += ": " + report.errorText;
        }
        PrintLine(stderr, line);
        return result;
    }
    PrintLine(stdout, report.exportPath);
    return 0;
}
