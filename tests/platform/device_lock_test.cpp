// The serial lines' lock conventions: minicom's lock files and the kernel's
// flock(2) listing that tells who holds a line.
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/posix/device_lock_file.h"
#include "platform/posix/lock_holder.h"
#include "testing/temp_dir.h"

namespace vorlund {
namespace {

TEST(DeviceLockFile, ReadsTheProcessIdOfEveryKnownForm) {
    std::int32_t binary = 4321;
    char binaryText[sizeof binary];
    std::memcpy(binaryText, &binary, sizeof binary);
    const struct {
        std::string content;
        pid_t pid;  // 0: none
    } cases[] = {
        {"      1234\n", 1234},                         // HDB, as minicom writes it
        {"1234 cu uucp\n", 1234},                       // with the program and user after it
        {std::string(binaryText, sizeof binary), 4321},  // the old binary form
        {"", 0},                                        // still being written
        {"          \n", 0},
        {"0000000000\n", 0},
        {"99999999999\n", 0},
        {"lock\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        EXPECT_EQ(ParseLockFilePid(c.content).value_or(0), c.pid);
    }
}

TEST(DeviceLockFile, StaleFilesGiveWayLiveOnesNameTheirHolder) {
    testing::TempDir dir;
    const std::string directory = dir.path().string();
    const std::string path = directory + "/LCK..null";
    // /dev/null stands in for a serial device: a lasting device name.
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    dir.Write("LCK..null", std::to_string(gone) + "\n");
    EXPECT_FALSE(DeviceLockFile::HeldBy(directory, "/dev/null"));
    EXPECT_FALSE(dir.Exists("LCK..null"));

    std::optional<std::string> heldBy;
    {
        DeviceLockFile mine = DeviceLockFile::Make(directory, "/dev/null", heldBy);
        EXPECT_FALSE(heldBy);
        char expected[16];
        std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(::getpid()));
        EXPECT_EQ(dir.Read("LCK..null"), expected);
        EXPECT_FALSE(DeviceLockFile::HeldBy(directory, "/dev/null"));
    }
    EXPECT_FALSE(dir.Exists("LCK..null"));

    dir.Write("LCK..null", "      " + std::to_string(::getppid()) + "\n");
    EXPECT_EQ(DeviceLockFile::HeldBy(directory, "/dev/null"), DescribeProcess(::getppid()));
    DeviceLockFile refused = DeviceLockFile::Make(directory, "/dev/null", heldBy);
    EXPECT_EQ(heldBy, DescribeProcess(::getppid()));
    refused.Release();
    EXPECT_TRUE(dir.Exists("LCK..null"));

    dir.Write("LCK..null", "");
    EXPECT_EQ(DeviceLockFile::HeldBy(directory, "/dev/null"), "lock file " + path);
}

TEST(LockHolder, FindsTheFlockOfOneFileInTheKernelsListing) {
    const std::string listing =
        "1: POSIX  ADVISORY  WRITE 700 00:19:4 0 EOF\n"
        "2: FLOCK  ADVISORY  WRITE 18217 00:19:4 0 EOF\n"
        "2: -> FLOCK  ADVISORY  WRITE 18300 00:19:4 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 900 fe:01:4 0 EOF\n";
    EXPECT_EQ(FlockHolderIn(listing, makedev(0, 0x19), 4).value_or(0), 18217);
    EXPECT_EQ(FlockHolderIn(listing, makedev(0xfe, 1), 4).value_or(0), 900);
    EXPECT_FALSE(FlockHolderIn(listing, makedev(0, 0x19), 5));
    EXPECT_FALSE(FlockHolderIn("", makedev(0, 0x19), 4));
    EXPECT_EQ(DescribeProcess(::getpid()).substr(0, 15), "vorlund_tests, ");
}

}  // namespace
}  // namespace vorlund
