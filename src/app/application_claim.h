// What a program settles before it touches its application directory: that
// it has one (never the system's own program directory by default), and
// that no other copy works in it.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "app/command_line.h"
#include "platform/application_directory.h"

namespace vorlund {

// A second copy on one application directory: the desktop program's words.
inline constexpr char kAlreadyRunning[] = "Vorlund k\xF6rs redan.";
// The service's exit status then; vorlund-convert adds its 100.
inline constexpr int kAlreadyRunningExitCode = 4;

// `line`, or, when it runs the program without an APPDIR and the program
// lies in a system program directory (IsSystemProgramDirectory), a usage
// error that says to name one: Spool and Out are never made in /usr/bin.
CommandLine RequireApplicationDirectory(CommandLine line, std::string_view executablePath,
                                        char separator);

// Why a program must not go on: `text` in code page 1252, then the detail
// that follows it after ": ".
struct StartRefusal {
    int exitCode = 0;  // kAlreadyRunningExitCode, or 3 for a failure
    std::string text;
    std::string detail;
};

// Claims the directory of `executablePath` (the path LoadServiceSettings
// takes), or says why not: another copy holds it ("Vorlund körs redan.:
// /var/lib/vorlund (vorlund, pid 1234)"), or, started as root, the program
// could not become the directory's owner.
std::variant<ApplicationDirectoryClaim, StartRefusal> ClaimApplicationDirectory(
    std::string_view executablePath, char separator);

}  // namespace vorlund
