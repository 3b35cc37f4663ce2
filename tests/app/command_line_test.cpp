#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace vorlund {
namespace {

using Action = CommandLine::Action;

struct Case {
    std::vector<const char*> arguments;  // after the program's name
    Action action;
    const char* appDirOrError;  // the directory for kRun (nullptr: none), the error otherwise
    bool takesFile = false;     // vorlund-convert: a second operand is the file
    const char* file = nullptr;
};

TEST(CommandLineTest, TakesOneDirectoryHelpAndVersionAndNothingElse) {
    const std::vector<Case> cases = {
        {{}, Action::kRun, nullptr},
        {{"/var/lib/vorlund"}, Action::kRun, "/var/lib/vorlund"},
        {{"--", "-dir"}, Action::kRun, "-dir"},
        {{"-"}, Action::kRun, "-"},
        {{"--help"}, Action::kShowHelp, ""},
        {{"--version", "--help"}, Action::kShowVersion, ""},
        {{"a", "b", "--help"}, Action::kShowHelp, ""},
        {{"--", "--help"}, Action::kRun, "--help"},
        {{"--bogus", "--help"}, Action::kUsageError, "unrecognized option '--bogus'"},
        {{"--help=x"}, Action::kUsageError, "option '--help' doesn't allow an argument"},
        {{"--he"}, Action::kUsageError, "unrecognized option '--he'"},
        {{"-h"}, Action::kUsageError, "invalid option -- 'h'"},
        {{"-xyz"}, Action::kUsageError, "invalid option -- 'x'"},
        {{"a", "b", "c"}, Action::kUsageError, "extra operand 'b'"},
        {{""}, Action::kUsageError, "the application directory must not be empty"},
        {{"app", "kept.DAT"}, Action::kRun, "app", true, "kept.DAT"},
        {{"app", "kept.DAT", "c"}, Action::kUsageError, "extra operand 'c'", true},
        {{"app", ""}, Action::kUsageError, "the file must not be empty", true},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"vorlund"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const CommandLine line =
            ParseCommandLine(static_cast<int>(argv.size()), argv.data(), c.takesFile);
        const std::string arguments = testing::PrintToString(c.arguments);
        EXPECT_EQ(line.action, c.action) << arguments;
        if (c.action == Action::kRun) {
            EXPECT_EQ(line.appDir.value_or("(none)"), c.appDirOrError ? c.appDirOrError : "(none)")
                << arguments;
            EXPECT_EQ(line.file.value_or("(none)"), c.file ? c.file : "(none)") << arguments;
        } else if (c.action == Action::kUsageError) {
            EXPECT_EQ(line.error, c.appDirOrError) << arguments;
        }
    }
}

TEST(CommandLineTest, TheDirectoryStandsForAProgramInsideIt) {
    EXPECT_EQ(ExecutablePathIn("/var/lib/vorlund", '/', "vorlund"), "/var/lib/vorlund/vorlund");
    EXPECT_EQ(ExecutablePathIn("/var/lib/vorlund//", '/', "vorlund"), "/var/lib/vorlund/vorlund");
    EXPECT_EQ(ExecutablePathIn("/", '/', "vorlund"), "/vorlund");
    EXPECT_EQ(ExecutablePathIn("app", '/', "vorlund"), "app/vorlund");
    EXPECT_EQ(ExecutablePathIn("C:\\Vorlund\\", '\\', "vorlund-convert"),
              "C:\\Vorlund\\vorlund-convert");
    EXPECT_EQ(ExecutablePathIn("C:/Vorlund/", '\\', "vorlund-convert"),
              "C:/Vorlund\\vorlund-convert");
    EXPECT_EQ(ExecutablePathIn("C:\\", '\\', "vorlund-convert"), "C:\\vorlund-convert");
}

}  // namespace
}  // namespace vorlund
