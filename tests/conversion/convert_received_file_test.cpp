#include "conversion/convert_received_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/fault_platform.h"
#include "testing/app_directory.h"

namespace vorlund {
namespace {

constexpr std::string_view kReceived = "A;1\r\nB;2\r\nA;3\r\n";

class ConvertReceivedFileTest : public ::testing::Test {
  protected:
    ConvertReceivedFileTest() { UseOutFile("export.txt"); }
    void UseOutFile(std::string name) {
        settings.OutFile = std::move(name);
        settings.UseOutFile = !settings.OutFile.empty();
    }
    ConversionResult Convert(const Platform& platform = NativePlatform(), char separator = ',') {
        return ConvertReceivedFile(settings, platform, separator, &report);
    }
    std::string Exported(const std::string& name = "export.txt") const {
        return dir.Read("Out/" + name);
    }
    std::vector<std::string> OutFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "Out")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testing::TempDir dir;
    ServiceSettings settings = testing::MakeApplicationDirectory(dir);
    ConversionReport report;
};

TEST_F(ConvertReceivedFileTest, SumsInCodeOrderOrListsInArrivalOrder) {
    dir.Write("Spool/X.DAT", kReceived);
    EXPECT_EQ(Convert(), kConverted);
    EXPECT_EQ(Exported(), "A,4\r\nB,2\r\n");
    EXPECT_EQ(report.exportPath, settings.OutDir + NativePlatform().PathSeparator() + "export.txt");
    EXPECT_EQ(report.records, 3U);
    EXPECT_EQ(report.exportLines, 2U);

    settings.Aggregation = false;
    EXPECT_EQ(Convert(), kConverted);
    EXPECT_EQ(Exported(), "A,1\r\nB,2\r\nA,3\r\n");  // the fixed file is replaced

    settings.UseQuotes = true;
    settings.Separator = 1;
    settings.Aggregation = true;
    EXPECT_EQ(Convert(), kConverted);
    EXPECT_EQ(Exported(), "\"A\";\"4\"\r\n\"B\";\"2\"\r\n");
    EXPECT_EQ(dir.Read("Spool/X.DAT"), kReceived);  // left as it was
}

TEST_F(ConvertReceivedFileTest, QuantitiesCarryAPointWhateverTheRegionalSeparator) {
    dir.Write("Spool/X.DAT", "A;2.5\r\nB;1,5\r\nC;0.1\r\nC;0.2\r\n");
    EXPECT_EQ(Convert(NativePlatform(), ','), kConverted);
    EXPECT_EQ(Exported(), "A,2.5\r\nB,1.5\r\nC,0.3\r\n");
    EXPECT_EQ(Convert(NativePlatform(), '.'), kConverted);
    EXPECT_EQ(Exported(), "A,2.5\r\nB,0\r\nC,0.3\r\n");
}

TEST_F(ConvertReceivedFileTest, NoRecordsGiveAnEmptyExport) {
    dir.Write("Spool/X.DAT", "header\r\nA;1\r\n");
    EXPECT_EQ(Convert(), kConverted);
    EXPECT_TRUE(dir.Exists("Out/export.txt"));
    EXPECT_EQ(Exported(), "");
}

TEST_F(ConvertReceivedFileTest, MissingOrLockedReceivedFileCreatesNothing) {
    EXPECT_EQ(Convert(), kNoReceivedFile);
    std::filesystem::create_directory(dir.path() / "Spool" / "X.DAT");
    EXPECT_EQ(Convert(), kNoReceivedFile);  // a directory is no received file
    std::filesystem::remove(dir.path() / "Spool" / "X.DAT");

    dir.Write("Spool/X.DAT", kReceived);
    {
        const auto holder = NativePlatform().OpenExclusive(settings.SpoolDir + "/X.DAT");
        ASSERT_TRUE(holder);
        EXPECT_EQ(Convert(), kReceivedFileNotOpened);
    }
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(ConvertReceivedFileTest, ExportThatCannotBeCreatedGives50) {
    dir.Write("Spool/X.DAT", kReceived);
    UseOutFile("missing/export.txt");
    EXPECT_EQ(Convert(), kExportNotCreated);
    // The report names the file and gives the system's reason.
    EXPECT_EQ(report.failedPath,
              settings.OutDir + NativePlatform().PathSeparator() + "missing/export.txt");
    EXPECT_NE(report.errorText, "");
    EXPECT_EQ(report.exportPath, "");
    settings.OutDir = dir.Prefix() + "gone";
    UseOutFile("");
    EXPECT_EQ(Convert(), kExportNotCreated);
}

TEST_F(ConvertReceivedFileTest, FailedWriteGives51Or52AndLeavesNoPartialExport) {
    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += "CODE" + std::to_string(i) + ";1\r\n";
    dir.Write("Spool/X.DAT", big);
    testing::Faults faults;
    faults.failWriteNumber = 2;
    const testing::FaultPlatform failing(NativePlatform(), faults);

    settings.Aggregation = false;
    EXPECT_EQ(Convert(failing), kWriteFailedInArrivalOrder);
    settings.Aggregation = true;
    EXPECT_EQ(Convert(failing), kWriteFailedInCodeOrder);
    EXPECT_TRUE(OutFiles().empty());

    faults = {};
    faults.commit = true;
    EXPECT_EQ(Convert(testing::FaultPlatform(NativePlatform(), faults)), kWriteFailedInCodeOrder);
    EXPECT_TRUE(OutFiles().empty());
    EXPECT_EQ(dir.Read("Spool/X.DAT"), big);
}

TEST_F(ConvertReceivedFileTest, TimeStampedNameNeverReplacesAnEarlierExport) {
    UseOutFile("");
    testing::Faults faults;
    faults.hasClock = true;
    faults.clock = {2026, 12, 31, 23, 59, 59};
    const testing::FaultPlatform clock(NativePlatform(), faults);

    dir.Write("Spool/X.DAT", "A;1\r\n");
    EXPECT_EQ(Convert(clock), kConverted);
    dir.Write("Spool/X.DAT", "B;2\r\n");
    EXPECT_EQ(Convert(clock), kConverted);
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"20261231235959.txt", "20270101000000.txt"}));
    EXPECT_EQ(Exported("20261231235959.txt"), "A,1\r\n");
    EXPECT_EQ(Exported("20270101000000.txt"), "B,2\r\n");
}

}  // namespace
}  // namespace vorlund
