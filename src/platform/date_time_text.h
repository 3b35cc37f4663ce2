#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vorlund {

// A local time as digits, whatever the C library's locale: year, month and
// day joined by `dateSeparator`, then `between`, then hour, minute and
// second joined by `timeSeparator`. ("", "", "") gives 20261208141503,
// ("-", " ", ":") gives 2026-12-08 14:15:03.
inline std::string DateTimeText(const LocalDateTime& time, std::string_view dateSeparator,
                                std::string_view between, std::string_view timeSeparator) {
    std::string text;
    const auto append = [&text](unsigned value, unsigned width) {
        const std::string digits = std::to_string(value);
        if (digits.size() < width) {
            text.append(width - digits.size(), '0');
        }
        text += digits;
    };
    append(time.year, 4);
    text += dateSeparator;
    append(time.month, 2);
    text += dateSeparator;
    append(time.day, 2);
    text += between;
    append(time.hour, 2);
    text += timeSeparator;
    append(time.minute, 2);
    text += timeSeparator;
    append(time.second, 2);
    return text;
}

}  // namespace vorlund
