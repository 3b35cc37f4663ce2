#include "download/file_offer.h"

#include <algorithm>
#include <charconv>

namespace vorlund {

std::optional<FileOffer> ParseFileOffer(std::string_view payload) {
    const std::size_t nameEnd = payload.find('\0');
    if (nameEnd == std::string_view::npos || nameEnd == 0) {
        return std::nullopt;
    }
    FileOffer header{std::string(payload.substr(0, nameEnd)), std::nullopt, {}};
    std::string_view fields = payload.substr(nameEnd + 1);
    const std::size_t digits = std::min(fields.find_first_not_of("0123456789"), fields.size());
    if (digits > 0) {
        std::uint64_t value = 0;
        if (std::from_chars(fields.data(), fields.data() + digits, value).ec != std::errc{}) {
            return std::nullopt;
        }
        header.size = value;
        fields.remove_prefix(digits);
        if (!fields.empty() && fields[0] == ' ') {
            fields.remove_prefix(1);
            header.modified = fields.substr(0, fields.find_first_not_of("01234567"));
        }
    }
    return header;
}

}  // namespace vorlund
