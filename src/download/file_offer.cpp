#include "download/file_offer.h"

#include <algorithm>
#include <charconv>

namespace vorlund {
namespace {

// The next blank-separated field, up to the first NUL.
std::string_view NextField(std::string_view& fields) {
    fields = fields.substr(0, fields.find('\0'));
    const std::size_t start = std::min(fields.find_first_not_of(' '), fields.size());
    fields.remove_prefix(start);
    const std::size_t end = std::min(fields.find(' '), fields.size());
    const std::string_view field = fields.substr(0, end);
    fields.remove_prefix(end);
    return field;
}

std::optional<std::uint64_t> Decimal(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<FileOffer> ParseFileOffer(std::string_view payload) {
    const std::size_t nameEnd = payload.find('\0');
    if (nameEnd == std::string_view::npos || nameEnd == 0) {
        return std::nullopt;
    }
    FileOffer offer{std::string(payload.substr(0, nameEnd)), std::nullopt, {}, std::nullopt};
    std::string_view fields = payload.substr(nameEnd + 1);
    const std::size_t digits = std::min(fields.find_first_not_of("0123456789"), fields.size());
    if (digits > 0) {
        std::uint64_t value = 0;
        if (std::from_chars(fields.data(), fields.data() + digits, value).ec != std::errc{}) {
            return std::nullopt;
        }
        offer.size = value;
        fields.remove_prefix(digits);
        if (!fields.empty() && fields[0] == ' ') {
            fields.remove_prefix(1);
            offer.modified = fields.substr(0, fields.find_first_not_of("01234567"));
            // Then the mode and a serial number, which say nothing here, and
            // how many files the batch still holds, this one included.
            NextField(fields);
            NextField(fields);
            NextField(fields);
            offer.filesLeft = Decimal(NextField(fields));
        }
    }
    return offer;
}

}  // namespace vorlund
