#include "settings/protocol_setting.h"

#include <array>
#include <utility>

#include "common/cp1252.h"

namespace vorlund {
namespace {

constexpr std::array<std::pair<ProtocolChoice, std::string_view>, 4> kNames{{
    {ProtocolChoice::kAuto, "auto"},
    {ProtocolChoice::kZmodem, "ZMODEM"},
    {ProtocolChoice::kYmodem, "YMODEM"},
    {ProtocolChoice::kXmodem, "XMODEM"},
}};

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperCp1252(a[i]) != UpperCp1252(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<ProtocolChoice> ParseProtocolChoice(std::string_view value) {
    value = Trimmed(value);
    for (const auto& [choice, name] : kNames) {
        if (SameLetters(value, name)) {
            return choice;
        }
    }
    return std::nullopt;
}

std::optional<ProtocolChoice> ProtocolSetting(const SettingsFile& file) {
    return ParseProtocolChoice(file.Value("Protocol"));
}

std::string_view ProtocolChoiceName(ProtocolChoice choice) {
    for (const auto& [known, name] : kNames) {
        if (known == choice) {
            return name;
        }
    }
    return "auto";
}

}  // namespace vorlund
