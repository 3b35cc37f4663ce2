#include "app/command_line.h"

#include <cstdio>

#include "app/version.h"

namespace vorlund {

CommandLine ParseCommandLine(int argc, const char* const* argv, bool takesFile) {
    CommandLine line;
    bool optionsEnded = false;
    std::optional<std::string> extraOperand;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool isOption = !optionsEnded && argument.size() > 1 && argument[0] == '-';
        if (isOption && argument == "--") {
            optionsEnded = true;
        } else if (isOption && argument == "--help") {
            return {CommandLine::Action::kShowHelp, std::nullopt, std::nullopt, {}};
        } else if (isOption && argument == "--version") {
            return {CommandLine::Action::kShowVersion, std::nullopt, std::nullopt, {}};
        } else if (isOption) {
            if (argument.substr(0, 2) != "--") {
                return {CommandLine::Action::kUsageError, std::nullopt, std::nullopt,
                        "invalid option -- '" + std::string(argument.substr(1, 1)) + "'"};
            }
            const std::string name(argument.substr(0, argument.find('=')));
            return {CommandLine::Action::kUsageError, std::nullopt, std::nullopt,
                    name == "--help" || name == "--version"
                        ? "option '" + name + "' doesn't allow an argument"
                        : "unrecognized option '" + name + "'"};
        } else if (!line.appDir) {
            line.appDir = std::string(argument);
        } else if (takesFile && !line.file) {
            line.file = std::string(argument);
        } else if (!extraOperand) {
            extraOperand = std::string(argument);
        }
    }
    if (extraOperand) {
        // Checked only now: a later --help still answers, as GNU programs do.
        return {CommandLine::Action::kUsageError, std::nullopt, std::nullopt,
                "extra operand '" + *extraOperand + "'"};
    }
    if (line.file && line.file->empty()) {
        return {CommandLine::Action::kUsageError, std::nullopt, std::nullopt,
                "the file must not be empty"};
    }
    if (line.appDir && line.appDir->empty()) {
        // An empty directory would quietly become the root of the file system.
        return {CommandLine::Action::kUsageError, std::nullopt, std::nullopt,
                "the application directory must not be empty"};
    }
    return line;
}

std::optional<int> AnswerWithoutRunning(const CommandLine& line, std::string_view program,
                                        std::string_view help) {
    const std::string name(program);
    switch (line.action) {
        case CommandLine::Action::kShowHelp:
            std::fwrite(help.data(), 1, help.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case CommandLine::Action::kShowVersion:
            std::fputs((name + " (Vorlund) " + kVersion + "\n").c_str(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case CommandLine::Action::kUsageError:
            std::fputs(
                (name + ": " + line.error + "\nTry '" + name + " --help' for more information.\n")
                    .c_str(),
                stderr);
            return kUsageExitCode;
        case CommandLine::Action::kRun:
            break;
    }
    return std::nullopt;
}

std::string ExecutablePathIn(std::string appDir, char separator, std::string_view program) {
    // A trailing separator is dropped ('/' too, which Windows also accepts),
    // so "dir/" and "dir" name the same application directory.
    while (appDir.size() > 1 && (appDir.back() == separator || appDir.back() == '/')) {
        appDir.pop_back();
    }
    if (appDir.size() == 1 && (appDir[0] == separator || appDir[0] == '/')) {
        appDir.clear();  // the root: its separator comes back below
    }
    return appDir + separator + std::string(program);
}

}  // namespace vorlund
