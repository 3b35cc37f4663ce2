// vorlund-convert [APPDIR [FILE]]: one conversion run, as the service does it
// when a delivery has arrived, for support staff and scripts; with FILE, of a
// kept delivery, which is how an operator recovers one.
//
// Exit status: the ConversionResult (0, 1, 2, 50, 51, 52); 101 or 102 when the
// spool or output directory can neither be found nor made; 103 and 104 as the
// service's 3 and 4 (APPDIR cannot be taken over from root, or the service
// works in it); 64 on a bad command line. A failed run says on stderr which
// file failed and why.
#include <cstdio>
#include <string>
#include <variant>

#include "app/application_claim.h"
#include "app/command_line.h"
#include "common/console_info_box.h"
#include "conversion/convert_received_file.h"
#include "platform/platform.h"
#include "settings/load_service_settings.h"

namespace {

constexpr int kStartupFailureBase = 100;
constexpr char kProgram[] = "vorlund-convert";

constexpr char kHelp[] =
    "Usage: vorlund-convert [APPDIR [FILE]]\n"
    "Converts APPDIR/Spool/X.DAT, or FILE, once into an export file, as the\n"
    "Vorlund service does when a delivery has arrived, and prints the export\n"
    "file's path. FILE is a kept delivery from APPDIR/Spool/Okonverterade: stop\n"
    "the service, convert it, delete it once its export is there, start the\n"
    "service again.\n"
    "\n"
    "APPDIR is the application directory, holding Vorlund.ini and Spool\n"
    "(default: the directory of this program, but never a system directory such\n"
    "as /usr/bin). On Linux, run as root, it works as the owner of APPDIR.\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Exit status: 0 the export was written; 1 no X.DAT (or FILE); 2 it cannot be\n"
    "opened; 50 the export cannot be created; 51, 52 a write to it failed; 101, 102\n"
    "the spool or output directory can neither be found nor made; 103 APPDIR cannot\n"
    "be taken over from root; 104 the service works in APPDIR; 64 bad command line.\n";

void PrintLine(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vorlund;
    const Platform& platform = NativePlatform();
    const CommandLine command = RequireApplicationDirectory(
        ParseCommandLine(argc, argv, true), platform.ExecutablePath(), platform.PathSeparator());
    if (const auto status = AnswerWithoutRunning(command, kProgram, kHelp)) {
        return *status;
    }
    const std::string executable =
        command.appDir ? ExecutablePathIn(*command.appDir, platform.PathSeparator(), kProgram)
                       : platform.ExecutablePath();
    // The service's own refusal, and before anything in APPDIR is made.
    const auto claim = ClaimApplicationDirectory(executable, platform.PathSeparator());
    if (const auto* refusal = std::get_if<StartRefusal>(&claim)) {
        PrintLine(stderr, TerminalText(refusal->text) + ": " + refusal->detail);
        return kStartupFailureBase + refusal->exitCode;
    }

    ConsoleInfoBox infoBox(stderr, TerminalText);
    const auto loaded = LoadServiceSettings(executable, platform, infoBox);
    if (const auto* failure = std::get_if<StartupFailure>(&loaded)) {
        return kStartupFailureBase + failure->exitCode;
    }

    ConversionReport report;
    const ConversionResult result =
        ConvertReceivedFile(std::get<ServiceSettings>(loaded), platform, UserDecimalSeparator(),
                            &report, command.file.value_or(std::string()));
    if (result != kConverted) {
        // Paths and the system's texts are already in the terminal's encoding.
        std::string line = TerminalText("Fel vid skapande av destinationsfil!") + " (" +
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
