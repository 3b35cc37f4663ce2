#include "settings/settings_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorlund {
namespace {

// Each line of a settings file that the service will not take as it
// stands, and what it says of it; the lines it takes say nothing.
TEST(SettingsCheck, SaysOfEachLineThatIsNotTakenAsItStands) {
    struct Case {
        const char* line;
        const char* problem;  // the start of it; nullptr: nothing to say
    };
    const std::vector<Case> cases = {
        {"; a comment=with an equals sign", nullptr},
        {"[Vorlund]", nullptr},
        {"", nullptr},
        {"baudrate= 3", nullptr},
        {"BaudRate=", nullptr},
        {"Separator=7", nullptr},
        {"Protocol= zmodem ", nullptr},
        {"OutDir=/srv/lager", nullptr},
        {"BaudRate=9600", "not one of 0 to 5"},
        {"BaudRate=3 ", "not a whole number, so 5 (115200 bit/s) is used"},
        {"Separator=;", "not a whole number, so 0 (a comma) is used"},
        {"Aggregation=no", "not a whole number, so 1 (summed per article code) is used"},
        {"Protocol=Kermit", "not auto, ZMODEM, YMODEM or XMODEM, so auto is used"},
        {"SerialDevice = /dev/ttyUSB1", "a blank around '=' is part of the name, so the line "
                                        "does not set SerialDevice: write SerialDevice=/dev/ttyUSB1"},
        {"OutDir =/srv/lager", "a blank around '=' is part of the name"},
        {"SerialDevice= /dev/ttyUSB1", "a blank at the start or end of the value is part of it"},
        {"OutDir=Export", "a relative path"},
        {"Baudrate 5", "no '=' in it, so it sets nothing"},
        {"Speed=5", "no such key, so the line is passed over"},
    };
    for (const Case& c : cases) {
        SettingsFile file;
        file.LoadText(c.line);
        const std::vector<SettingsFinding> findings = CheckSettings(file, '/');
        if (!c.problem) {
            EXPECT_TRUE(findings.empty()) << c.line << ": " << findings.front().problem;
            continue;
        }
        ASSERT_EQ(findings.size(), 1u) << c.line;
        EXPECT_EQ(findings[0].line, 1u);
        EXPECT_EQ(findings[0].text, c.line);
        EXPECT_EQ(findings[0].problem.rfind(c.problem, 0), 0u) << c.line << ": " << findings[0].problem;
    }

    // The first line of a key counts; a byte-order mark is named as such.
    SettingsFile file;
    file.LoadText("\xEF\xBB\xBF" "COM-Port=1\r\nCOM-Port=2\r\nCOM-PORT=3\r\n");
    const std::vector<SettingsFinding> findings = CheckSettings(file, '/');
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[0].problem.rfind("the file begins with a byte-order mark", 0), 0u);
    EXPECT_EQ(findings[1].line, 3u);
    EXPECT_EQ(findings[1].problem.rfind("COM-Port is set on line 2 already", 0), 0u);
}

}  // namespace
}  // namespace vorlund
