#include <gtest/gtest.h>

#include "conversion/export_path.h"
#include "conversion/line_format.h"

namespace vorlund {
namespace {

TEST(BuildExportPath, FixedNameOrTimeStamp) {
    ServiceSettings settings;
    settings.OutDir = "C:\\Export";
    const LocalDateTime time{2026, 3, 7, 9, 5, 1};
    EXPECT_EQ(BuildExportPath(settings, time, '\\'), "C:\\Export\\20260307090501.txt");
    settings.OutFile = "lager.txt";
    settings.UseOutFile = true;
    EXPECT_EQ(BuildExportPath(settings, time, '\\'), "C:\\Export\\lager.txt");
}

TEST(NextSecond, CarriesThroughTheCalendar) {
    auto next = [](LocalDateTime t) {
        const LocalDateTime n = NextSecond(t);
        return std::vector<unsigned>{n.year, n.month, n.day, n.hour, n.minute, n.second};
    };
    EXPECT_EQ(next({2026, 3, 7, 9, 5, 1}), (std::vector<unsigned>{2026, 3, 7, 9, 5, 2}));
    EXPECT_EQ(next({2026, 12, 31, 23, 59, 59}), (std::vector<unsigned>{2027, 1, 1, 0, 0, 0}));
    EXPECT_EQ(next({2024, 2, 28, 23, 59, 59}), (std::vector<unsigned>{2024, 2, 29, 0, 0, 0}));
    EXPECT_EQ(next({2100, 2, 28, 23, 59, 59}), (std::vector<unsigned>{2100, 3, 1, 0, 0, 0}));
    EXPECT_EQ(next({2000, 2, 29, 23, 59, 59}), (std::vector<unsigned>{2000, 3, 1, 0, 0, 0}));
    EXPECT_EQ(next({2026, 4, 30, 23, 59, 59}), (std::vector<unsigned>{2026, 5, 1, 0, 0, 0}));
}

std::string Line(bool quotes, int separator, std::string_view code, std::string_view quantity) {
    std::string out;
    FormatLine(BuildLineFormat(quotes, separator), code, quantity, out);
    return out;
}

TEST(LineFormat, SeparatorAndQuotes) {
    EXPECT_EQ(Line(false, 0, "A", "4"), "A,4\r\n");
    EXPECT_EQ(Line(true, 1, "A", "4"), "\"A\";\"4\"\r\n");
    EXPECT_EQ(Line(false, 2, "A", "4"), "A\t4\r\n");
    EXPECT_EQ(Line(false, 7, "A", "4"), "A4\r\n");
    EXPECT_EQ(Line(false, -1, "A", "4"), "A4\r\n");
    EXPECT_EQ(Line(true, 0, "", "5"), "\"\",\"5\"\r\n");
}

TEST(LineFormat, FieldsAreCopiedUninterpretedAndNeverCut) {
    EXPECT_EQ(Line(true, 0, "%s\"%d,", "1"), "\"%s\"%d,\",\"1\"\r\n");
    const std::string code(5000, 'X');
    EXPECT_EQ(Line(false, 0, code, "1"), code + ",1\r\n");
}

}  // namespace
}  // namespace vorlund
