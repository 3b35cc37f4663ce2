#include "settings/load_service_settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/temp_dir.h"

namespace vorlund {
namespace {

class RecordingInfoBox : public InfoBox {
  public:
    void ShowInfoBox(std::string_view text) override { shown.emplace_back(text); }
    std::vector<std::string> shown;
};

class LoadServiceSettingsTest : public ::testing::Test {
  protected:
    std::variant<ServiceSettings, StartupFailure> Load() {
        return LoadServiceSettings(dir.Prefix() + "Vorlund.exe", NativePlatform(), box);
    }
    ServiceSettings LoadWith(std::string_view ini) {
        dir.Write("Vorlund.ini", ini);
        auto loaded = Load();
        EXPECT_TRUE(std::holds_alternative<ServiceSettings>(loaded));
        return std::get<ServiceSettings>(loaded);
    }

    testing::TempDir dir;
    RecordingInfoBox box;
};

TEST_F(LoadServiceSettingsTest, NoSettingsFileGivesEveryDefaultAndMakesBothDirectories) {
    const auto loaded = Load();
    ASSERT_TRUE(std::holds_alternative<ServiceSettings>(loaded));
    const auto& s = std::get<ServiceSettings>(loaded);
    EXPECT_EQ(s.AppDir, dir.Prefix());
    EXPECT_EQ(s.SpoolDir, dir.Prefix() + "Spool");
    EXPECT_EQ(s.OutDir, dir.Prefix() + "Out");
    EXPECT_EQ(s.OutFile, "");
    EXPECT_FALSE(s.UseOutFile);
    EXPECT_EQ(s.ComPortIndex, 0);
    EXPECT_EQ(s.BaudRateIndex, 5);
    EXPECT_FALSE(s.UseQuotes);
    EXPECT_EQ(s.Separator, 0);
    EXPECT_TRUE(s.Aggregation);
    EXPECT_TRUE(dir.Exists("Spool"));
    EXPECT_TRUE(dir.Exists("Out"));
    EXPECT_TRUE(box.shown.empty());
}

TEST_F(LoadServiceSettingsTest, ReadsEveryKey) {
    const auto s = LoadWith(
        "[Vorlund]\r\nOutFile=export.txt\r\nCOM-Port=2\r\nBaudRate=$3\r\nUseQuotes=-1\r\n"
        "Separator=7\r\nAggregation=0\r\n");
    EXPECT_EQ(s.OutFile, "export.txt");
    EXPECT_TRUE(s.UseOutFile);
    EXPECT_EQ(s.ComPortIndex, 2);
    EXPECT_EQ(s.BaudRateIndex, 3);
    EXPECT_TRUE(s.UseQuotes);
    EXPECT_EQ(s.Separator, 7);
    EXPECT_FALSE(s.Aggregation);
}

TEST_F(LoadServiceSettingsTest, ValuesThatDoNotConvertTakeTheirDefaults) {
    const auto s = LoadWith(
        "COM-Port=2147483648\nBaudRate=3 \nUseQuotes=yes\nSeparator=1.0\nAggregation=no\n");
    EXPECT_EQ(s.ComPortIndex, 0);
    EXPECT_EQ(s.BaudRateIndex, 5);
    EXPECT_FALSE(s.UseQuotes);
    EXPECT_EQ(s.Separator, 0);
    EXPECT_TRUE(s.Aggregation);
}

TEST_F(LoadServiceSettingsTest, OutDirLosesOneTrailingSeparator) {
    const std::string sep(1, NativePlatform().PathSeparator());
    const std::string target = dir.Prefix() + "Export";
    EXPECT_EQ(LoadWith("outdir=" + target + sep + "\n").OutDir, target);
    EXPECT_EQ(LoadWith("OutDir=" + target + sep + sep + "\n").OutDir, target + sep);
    EXPECT_EQ(LoadWith("OutDir=" + sep + "\n").OutDir, dir.Prefix() + "Out");
    EXPECT_EQ(LoadWith("OutDir =" + target + "\n").OutDir, dir.Prefix() + "Out");
}

TEST_F(LoadServiceSettingsTest, SpoolNameTakenByAFileEndsWithExitCode1AndReadsNoSettings) {
    dir.Write("Spool", "not a directory");
    dir.Write("Vorlund.ini", "OutDir=" + dir.Prefix() + "never\n");
    const auto loaded = Load();
    ASSERT_TRUE(std::holds_alternative<StartupFailure>(loaded));
    EXPECT_EQ(std::get<StartupFailure>(loaded).exitCode, 1);
    EXPECT_EQ(box.shown,
              std::vector<std::string>{
                  "Mapp f\xF6r tempor\xE4ra filer kunde ej skapas. Applikationen avslutas"});
    EXPECT_FALSE(dir.Exists("never"));
}

TEST_F(LoadServiceSettingsTest, OutDirTwoLevelsDeepEndsWithExitCode2AndKeepsTheSpool) {
    dir.Write("Vorlund.ini", "OutDir=" + dir.Prefix() + "a/b\n");
    const auto loaded = Load();
    ASSERT_TRUE(std::holds_alternative<StartupFailure>(loaded));
    EXPECT_EQ(std::get<StartupFailure>(loaded).exitCode, 2);
    EXPECT_EQ(box.shown,
              std::vector<std::string>{
                  "Utdatamappen finns inte och kunde inte skapas. Applikationen avslutas"});
    EXPECT_TRUE(dir.Exists("Spool"));
}

TEST(BaudRateFromIndex, MapsTheTableAndFallsBackToTheDefaultRate) {
    EXPECT_EQ(BaudRateFromIndex(0), 4800);
    EXPECT_EQ(BaudRateFromIndex(3), 38400);
    EXPECT_EQ(BaudRateFromIndex(5), 115200);
    EXPECT_EQ(BaudRateFromIndex(6), 115200);
    EXPECT_EQ(BaudRateFromIndex(-1), 115200);
    EXPECT_EQ(BaudRateFromIndex(INT32_MIN), 115200);
}

}  // namespace
}  // namespace vorlund
