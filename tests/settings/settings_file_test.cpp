#include "settings/settings_file.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

SettingsFile FromText(std::string_view text) {
    SettingsFile file;
    file.LoadText(text);
    return file;
}

TEST(SettingsFile, FirstMatchingLineWinsWithoutRegardToCase) {
    const SettingsFile file =
        FromText("[Vorlund]\r\nOUTDIR=first\r\n[Other]\r\noutdir=second\r\nOutFile=a=b\r\n");
    EXPECT_EQ(file.Value("OutDir"), "first");
    EXPECT_EQ(file.Value("outfile"), "a=b");
    EXPECT_EQ(file.Value("Missing"), "");
}

TEST(SettingsFile, NamesAndValuesAreNotTrimmed) {
    const SettingsFile file = FromText("OutDir =X\nBaudRate= 3 \n;COM-Port=1\n");
    EXPECT_EQ(file.Value("OutDir"), "");
    EXPECT_EQ(file.Value("OutDir "), "X");
    EXPECT_EQ(file.Value("BaudRate"), " 3 ");
    EXPECT_EQ(file.Value("COM-Port"), "");
}

TEST(SettingsFile, LinesEndAtCrLfOrCrLfPairs) {
    const SettingsFile file = FromText("A=1\rB=2\nC=3\r\nD=4\n\rE=5\r\rF=6");
    for (const auto& [key, value] :
         {std::pair{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}, {"E", "5"}, {"F", "6"}}) {
        EXPECT_EQ(file.Value(key), value) << key;
    }
}

TEST(SettingsFile, NulEndsTheTextAndByteOrderMarkHidesTheFirstKey) {
    const SettingsFile file = FromText(std::string_view("\xEF\xBB\xBFOutDir=x\nA=1\n\0B=2\n", 22));
    EXPECT_EQ(file.Value("OutDir"), "");
    EXPECT_EQ(file.Value("A"), "1");
    EXPECT_EQ(file.Value("B"), "");
}

}  // namespace
}  // namespace vorlund
