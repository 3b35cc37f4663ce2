// Block 0 of a YMODEM file: the name, NUL, then the size in decimal and,
// after a blank, the modification time in octal (further fields are not read).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

struct YmodemHeader {
    std::string name;
    std::optional<std::uint64_t> size;
    std::string modified;  // the octal digits as sent; empty when none
};

// None when the block holds no name or an unreadable size.
std::optional<YmodemHeader> ParseYmodemHeader(std::string_view payload);

// Whether a 128-byte block reads as a header: a name, NUL, then fields or
// NUL. A terminal's data is text and never does.
bool LooksLikeYmodemHeader(std::string_view payload);

}  // namespace vorlund
