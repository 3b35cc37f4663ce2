#include "conversion/record_parser.h"

#include <algorithm>
#include <string>

#include "common/cp1252.h"
#include "conversion/parse_float.h"
#include "settings/parse_integer.h"

namespace vorlund {
namespace {

constexpr bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The fraction after the '.', or nothing when the whole quantity is unreadable.
std::optional<Extended> ParseFraction(std::string_view digits) {
    if (const auto value = ParseInteger(digits)) {
        // Every byte after the point counts, blanks and a sign included.
        return *value / PowerOfTen(static_cast<int>(std::min<std::size_t>(digits.size(), 10000)));
    }
    if (digits.empty()) {
        return Extended(0);  // "12." is 12
    }
    if (AllDigits(digits)) {
        // More digits than 32 bits hold: their exact decimal value.
        return ParseFloat(std::string("0.").append(digits), '.');
    }
    return std::nullopt;
}

}  // namespace

std::string_view TrimControls(std::string_view text) {
    while (!text.empty() && IsBlankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}

Extended ParseQuantity(std::string_view text, char decimalSeparator) {
    Extended fraction = 0;
    const std::size_t point = text.find('.');
    if (point != std::string_view::npos) {
        const auto parsed = ParseFraction(text.substr(point + 1));
        if (!parsed) {
            return 0;
        }
        fraction = *parsed;
        text = text.substr(0, point);
    }
    // A minus sign applies to the fraction too: "-12.5" is -12.5, not -11.5.
    const std::string_view unsignedText =
        text.substr(std::min(text.find_first_not_of(' '), text.size()));
    const bool negative = unsignedText.starts_with('-');
    const Extended whole = ParseFloat(text, decimalSeparator).value_or(Extended(0));
    return negative ? whole - fraction : whole + fraction;
}

std::optional<entrytype> ParseEntryLine(std::string_view line, char decimalSeparator) {
    const std::size_t semicolon = line.find(';');
    if (semicolon == std::string_view::npos) {
        return std::nullopt;
    }
    entrytype record;
    record.code = TrimControls(line.substr(0, semicolon));
    UpperCaseCp1252(record.code);
    record.quantity = ParseQuantity(TrimControls(line.substr(semicolon + 1)), decimalSeparator);
    return record;
}

}  // namespace vorlund
