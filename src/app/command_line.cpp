#include "app/command_line.h"

#include <algorithm>
#include <cstdio>

#include "app/version.h"

namespace vorlund {
namespace {

CommandLine Answer(CommandLine::Action action) {
    CommandLine line;
    line.action = action;
    return line;
}

CommandLine UsageError(std::string error) {
    CommandLine line = Answer(CommandLine::Action::kUsageError);
    line.error = std::move(error);
    return line;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv, bool takesFile) {
    return ParseCommandLine(argc, argv, takesFile, {});
}

CommandLine ParseCommandLine(int argc, const char* const* argv, bool takesFile,
                             const std::vector<CommandMode>& modes) {
    CommandLine line;
    bool optionsEnded = false;
    std::optional<std::string> extraOperand;
    // The mode's operands are known only once every option is read.
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool isOption = !optionsEnded && argument.size() > 1 && argument[0] == '-';
        const auto mode = std::find_if(modes.begin(), modes.end(), [&](const CommandMode& known) {
            return known.option == argument;
        });
        if (isOption && mode != modes.end()) {
            if (!line.mode.empty() && line.mode != argument) {
                return UsageError("'" + line.mode + "' and '" + std::string(argument) +
                            "' cannot be given together");
            }
            line.mode = std::string(argument);
            takesFile = mode->takesFile;
        } else if (isOption && argument == "--") {
            optionsEnded = true;
        } else if (isOption && argument == "--help") {
            return Answer(CommandLine::Action::kShowHelp);
        } else if (isOption && argument == "--version") {
            return Answer(CommandLine::Action::kShowVersion);
        } else if (isOption) {
            if (argument.substr(0, 2) != "--") {
                return UsageError("invalid option -- '" + std::string(argument.substr(1, 1)) + "'");
            }
            const std::string name(argument.substr(0, argument.find('=')));
            return UsageError(name == "--help" || name == "--version"
                        ? "option '" + name + "' doesn't allow an argument"
                        : "unrecognized option '" + name + "'");
        } else {
            operands.emplace_back(argument);
        }
    }
    for (std::string& operand : operands) {
        if (!line.appDir) {
            line.appDir = std::move(operand);
        } else if (takesFile && !line.file) {
            line.file = std::move(operand);
        } else if (!extraOperand) {
            extraOperand = std::move(operand);
        }
    }
    if (extraOperand) {
        // Checked only now: a later --help still answers, as GNU programs do.
        return UsageError("extra operand '" + *extraOperand + "'");
    }
    if (line.file && line.file->empty()) {
        return UsageError("the file must not be empty");
    }
    if (line.appDir && line.appDir->empty()) {
        // An empty directory would quietly become the root of the file system.
        return UsageError("the application directory must not be empty");
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
