// The command line of vorlund and vorlund-convert: `PROGRAM [APPDIR]` (the
// converter also `[APPDIR [FILE]]`), with --help and --version after the GNU
// conventions. Nothing else is taken, so a mistyped option can never be
// mistaken for an application directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

// The status of a command line that was not understood (BSD's EX_USAGE).
inline constexpr int kUsageExitCode = 64;

struct CommandLine {
    enum class Action { kRun, kShowHelp, kShowVersion, kUsageError };

    Action action = Action::kRun;
    // The application directory when one was given.
    std::optional<std::string> appDir;
    // The file to convert in place of X.DAT, where the program takes one.
    std::optional<std::string> file;
    // For kUsageError: what was wrong, one line without the program's name.
    std::string error;
    // The mode chosen by its option ("--settle"), where the program has
    // modes; empty for its plain run.
    std::string mode;
};

// argv[0] is the program and is not looked at. The first --help or --version
// decides, as long as no unknown option comes before it; "--" ends the
// options, so a directory whose name starts with '-' can still be given.
// `takesFile`: a second operand names a file.
CommandLine ParseCommandLine(int argc, const char* const* argv, bool takesFile = false);

// A mode of a program, chosen by an option of its own: `vorlund --check`.
struct CommandMode {
    std::string_view option;
    bool takesFile = false;  // in this mode, a second operand names a file
};
// The same for a program with modes: at most one of `modes` may be given.
CommandLine ParseCommandLine(int argc, const char* const* argv, bool takesFile,
                             const std::vector<CommandMode>& modes);

// Answers a command line that does not run the program: `help` or
// "PROGRAM (Vorlund) VERSION" on standard output, or a usage error on
// standard error. Returns the exit status, or nothing for kRun.
std::optional<int> AnswerWithoutRunning(const CommandLine& line, std::string_view program,
                                        std::string_view help);

// The path of an executable named `program` inside `appDir`: the start-up
// works out the application directory from an executable's path.
std::string ExecutablePathIn(std::string appDir, char separator, std::string_view program);

}  // namespace vorlund
