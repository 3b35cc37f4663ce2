// The native platform layer, as the conversion relies on it.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include "testing/temp_dir.h"

namespace vorlund {
namespace {

TEST(NativePlatform, DirectoriesAreMadeOneLevelAtATime) {
    testing::TempDir dir;
    const Platform& p = NativePlatform();
    EXPECT_TRUE(p.IsDirectory(dir.Prefix()));
    EXPECT_TRUE(p.MakeDirectory(dir.Prefix() + "one"));
    EXPECT_FALSE(p.MakeDirectory(dir.Prefix() + "one"));
    EXPECT_FALSE(p.MakeDirectory(dir.Prefix() + "two" + p.PathSeparator() + "three"));
    dir.Write("file", "x");
    EXPECT_FALSE(p.IsDirectory(dir.Prefix() + "file"));
    EXPECT_TRUE(p.FileExists(dir.Prefix() + "file"));
    EXPECT_FALSE(p.FileExists(dir.Prefix() + "one"));
    EXPECT_FALSE(p.MakeDirectory(dir.Prefix() + "file"));
}

TEST(NativePlatform, ReceivedFileIsHeldExclusively) {
    testing::TempDir dir;
    dir.Write("X.DAT", "A;1\r\n");
    const Platform& p = NativePlatform();
    {
        auto first = p.OpenExclusive(dir.Prefix() + "X.DAT");
        ASSERT_TRUE(first);
        EXPECT_FALSE(p.OpenExclusive(dir.Prefix() + "X.DAT"));
    }
    EXPECT_TRUE(p.OpenExclusive(dir.Prefix() + "X.DAT"));
    const auto missing = p.OpenExclusive(dir.Prefix() + "missing");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.reason(), "");
}

// A staged file appears whole when published, and not at all otherwise; one
// that must be new, and a kept copy, never replace a file; a kept copy stays
// what X.DAT was when X.DAT is replaced by a new file.
TEST(NativePlatform, FilesAppearWholeAndNeverReplaceWhatMustStay) {
    testing::TempDir dir;
    const Platform& p = NativePlatform();
    dir.Write("export.txt", "old");
    {
        auto file = p.CreateStaged(dir.Prefix() + "export.txt");
        ASSERT_TRUE(file);
        EXPECT_TRUE((*file)->Write("new"));
        EXPECT_TRUE((*file)->Finish());
        EXPECT_EQ(dir.Read("export.txt"), "old");
        EXPECT_TRUE((*file)->Publish(StagedFile::Placement::kReplace));
    }
    EXPECT_EQ(dir.Read("export.txt"), "new");
    {
        auto file = p.CreateStaged(dir.Prefix() + "partial.txt");
        ASSERT_TRUE(file);
        EXPECT_TRUE((*file)->Write("half"));
    }
    EXPECT_FALSE(dir.Exists("partial.txt"));
    {
        auto file = p.CreateStaged(dir.Prefix() + "export.txt");
        ASSERT_TRUE(file);
        EXPECT_TRUE((*file)->Finish());
        EXPECT_FALSE((*file)->Publish(StagedFile::Placement::kNew));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);

    dir.Write("X.DAT", "first");
    EXPECT_TRUE(p.KeepAs(dir.Prefix() + "X.DAT", dir.Prefix() + "kept.DAT"));
    EXPECT_FALSE(p.KeepAs(dir.Prefix() + "X.DAT", dir.Prefix() + "kept.DAT"));
    auto next = p.CreateStaged(dir.Prefix() + "X.DAT");
    ASSERT_TRUE(next && (*next)->Write("second") && (*next)->Finish() &&
                (*next)->Publish(StagedFile::Placement::kReplace));
    EXPECT_EQ(dir.Read("kept.DAT"), "first");
}

TEST(NativePlatform, SettingsFileIsReadWhole) {
    testing::TempDir dir;
    const std::string content("A=1\r\n\0B=2", 10);
    dir.Write("Vorlund.ini", content);
    std::string read;
    EXPECT_TRUE(NativePlatform().ReadSettingsFile(dir.Prefix() + "Vorlund.ini", read));
    EXPECT_EQ(read, content);
    EXPECT_FALSE(NativePlatform().ReadSettingsFile(dir.Prefix() + "missing.ini", read));
}

}  // namespace
}  // namespace vorlund
