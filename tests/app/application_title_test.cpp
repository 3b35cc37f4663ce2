#include "app/application_title.h"

#include <gtest/gtest.h>

namespace vorlund {
namespace {

TEST(ApplicationTitleTest, FileNameCutAtItsFirstDotWithTheRestLowerCased) {
    EXPECT_EQ(ApplicationTitle("C:\\Program Files\\Svc\\DataSvc.exe"), "Datasvc");
    EXPECT_EQ(ApplicationTitle("C:\\VORLUND.EXE"), "Vorlund");
    EXPECT_EQ(ApplicationTitle("/opt/vorlund/bin/vorlund"), "vorlund");
    EXPECT_EQ(ApplicationTitle("D:\\a.b\\My.Service.exe"), "My");
    EXPECT_EQ(ApplicationTitle("\xC5TER\xD6PPNA.exe"), "\xC5ter\xF6ppna");
    EXPECT_EQ(ApplicationTitle("\xE4RLIG.exe"), "\xE4rlig");  // the first is kept as it is
    EXPECT_EQ(ApplicationTitle("C:\\.hidden"), "");
    EXPECT_EQ(ApplicationTitle(""), "");
}

}  // namespace
}  // namespace vorlund
