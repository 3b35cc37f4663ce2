#include "app/kept_delivery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/fault_platform.h"
#include "testing/temp_dir.h"

namespace vorlund {
namespace {

using namespace std::string_view_literals;

// Kept copies on the platform of the build, the clock fixed, one failure of
// the system at a time.
TEST(KeptDeliveryTest, CopiesXDatToANameNeverUsedBefore) {
    const testing::TempDir dir;
    std::filesystem::create_directory(dir.path() / "Spool");
    ServiceSettings settings;
    settings.SpoolDir = dir.Prefix() + "Spool";
    testing::Faults faults;
    faults.hasClock = true;
    faults.clock = {2026, 12, 8, 14, 15, 3};
    const testing::FaultPlatform platform(NativePlatform(), faults);
    const char separator = platform.PathSeparator();
    const std::string folder = settings.SpoolDir + separator + "Okonverterade" + separator;

    EXPECT_EQ(KeepFailedDelivery(settings, platform, "1"), KeepResult::kNothingToKeep);
    EXPECT_FALSE(dir.Exists("Spool/Okonverterade"));

    dir.Write("Spool/X.DAT", "A;1\r\n\x1A\0B"sv);
    std::string path;
    EXPECT_EQ(KeepFailedDelivery(settings, platform, "50", &path), KeepResult::kKept);
    EXPECT_EQ(path, folder + "20261208-141503-50.DAT");
    EXPECT_EQ(dir.Read("Spool/Okonverterade/20261208-141503-50.DAT"), "A;1\r\n\x1A\0B"sv);
    EXPECT_EQ(dir.Read("Spool/X.DAT"), "A;1\r\n\x1A\0B"sv);
    // The same second again, and a name that is taken by a folder.
    std::filesystem::create_directory(dir.path() / "Spool/Okonverterade/20261208-141503-50-2.DAT");
    EXPECT_EQ(KeepFailedDelivery(settings, platform, "50", &path), KeepResult::kKept);
    EXPECT_EQ(path, folder + "20261208-141503-50-3.DAT");

    faults.copy = true;
    EXPECT_EQ(KeepFailedDelivery(settings, testing::FaultPlatform(NativePlatform(), faults), "51"),
              KeepResult::kNotKept);
    EXPECT_FALSE(dir.Exists("Spool/Okonverterade/20261208-141503-51.DAT"));

    // The folder cannot be made.
    std::filesystem::remove_all(dir.path() / "Spool/Okonverterade");
    dir.Write("Spool/Okonverterade", "");
    EXPECT_EQ(KeepFailedDelivery(settings, platform, "50"), KeepResult::kNotKept);
}

}  // namespace
}  // namespace vorlund
