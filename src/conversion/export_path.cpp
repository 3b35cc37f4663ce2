#include "conversion/export_path.h"

#include "platform/date_time_text.h"

namespace vorlund {
namespace {

unsigned DaysInMonth(unsigned year, unsigned month) {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12) {
        return 31;
    }
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string BuildExportPath(const ServiceSettings& settings, const LocalDateTime& time,
                            char pathSeparator) {
    std::string path = settings.OutDir;
    path += pathSeparator;
    if (settings.UseOutFile) {
        return path + settings.OutFile;
    }
    return path + DateTimeText(time, "", "", "") + ".txt";
}

LocalDateTime NextSecond(LocalDateTime t) {
    if (++t.second < 60)
        return t;
    t.second = 0;
    if (++t.minute < 60)
        return t;
    t.minute = 0;
    if (++t.hour < 24)
        return t;
    t.hour = 0;
    if (++t.day <= DaysInMonth(t.year, t.month))
        return t;
    t.day = 1;
    if (++t.month <= 12)
        return t;
    t.month = 1;
    ++t.year;
    return t;
}

}  // namespace vorlund
