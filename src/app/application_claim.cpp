#include "app/application_claim.h"

#include <string>

namespace vorlund {
namespace {

// The service's exit status for a start that failed for another reason.
constexpr int kStartupFailed = 3;

// The directory part of an executable's path, without its last separator
// (but the root stays the root).
std::string DirectoryOf(std::string_view executablePath, char separator) {
    const auto last = executablePath.find_last_of(std::string{separator, '/'});
    if (last == std::string_view::npos) {
        return ".";
    }
    return std::string(executablePath.substr(0, last == 0 ? 1 : last));
}

}  // namespace

CommandLine RequireApplicationDirectory(CommandLine line, std::string_view executablePath,
                                        char separator) {
    if (line.action != CommandLine::Action::kRun || line.appDir) {
        return line;
    }
    const std::string directory = DirectoryOf(executablePath, separator);
    if (IsSystemProgramDirectory(directory)) {
        line.action = CommandLine::Action::kUsageError;
        line.error = "no APPDIR given, and this program's directory " + directory +
                     " is a system directory, where no Spool or Out may be made; name the "
                     "application directory (the packaged service's is /var/lib/vorlund)";
    }
    return line;
}

std::variant<ApplicationDirectoryClaim, StartRefusal> ClaimApplicationDirectory(
    std::string_view executablePath, char separator) {
    const std::string directory = DirectoryOf(executablePath, separator);
    ApplicationDirectoryClaim claim = ApplicationDirectoryClaim::Take(directory);
    switch (claim.Result()) {
        case ApplicationDirectoryClaim::Outcome::kClaimed:
            return claim;
        case ApplicationDirectoryClaim::Outcome::kHeldByAnother:
            return StartRefusal{
                kAlreadyRunningExitCode, kAlreadyRunning,
                directory + (claim.Detail().empty() ? "" : " (" + claim.Detail() + ")")};
        case ApplicationDirectoryClaim::Outcome::kFailed:
            break;
    }
    return StartRefusal{kStartupFailed, "Application Error", directory + ": " + claim.Detail()};
}

}  // namespace vorlund
