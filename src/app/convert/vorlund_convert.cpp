// vorlund-convert [APPDIR]: one conversion run, as the service does it when a
// delivery has arrived, for support staff and scripts.
//
// Exit status: the ConversionResult (0, 1, 2, 50, 51, 52); 101 or 102 when the
// spool or output directory can neither be found nor made; 64 on a bad
// command line.
#include <cstdio>
#include <string>
#include <variant>

#include "common/console_info_box.h"
#include "conversion/convert_received_file.h"
#include "platform/platform.h"
#include "settings/load_service_settings.h"

namespace {

constexpr int kUsageError = 64;
constexpr int kStartupFailureBase = 100;

void PrintLine(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
}

// LoadServiceSettings takes an executable's path; an APPDIR given on the
// command line stands for a program inside it.
std::string ExecutablePathIn(std::string appDir, char separator) {
    while (!appDir.empty() && appDir.back() == separator) {
        appDir.pop_back();
    }
    return appDir + separator + "vorlund-convert";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vorlund;
    if (argc > 2) {
        PrintLine(stderr, "usage: vorlund-convert [APPDIR]");
        return kUsageError;
    }
    const Platform& platform = NativePlatform();
    const std::string executable =
        argc == 2 ? ExecutablePathIn(argv[1], platform.PathSeparator()) : platform.ExecutablePath();

    ConsoleInfoBox infoBox(stderr, TerminalText);
    const auto loaded = LoadServiceSettings(executable, platform, infoBox);
    if (const auto* failure = std::get_if<StartupFailure>(&loaded)) {
        return kStartupFailureBase + failure->exitCode;
    }

    std::string exportPath;
    const ConversionResult result = ConvertReceivedFile(std::get<ServiceSettings>(loaded), platform,
                                                        UserDecimalSeparator(), &exportPath);
    if (result != kConverted) {
        PrintLine(stderr, TerminalText("Fel vid skapande av destinationsfil!") + " (" +
                              std::to_string(static_cast<int>(result)) + ")");
        return result;
    }
    PrintLine(stdout, exportPath);
    return 0;
}
