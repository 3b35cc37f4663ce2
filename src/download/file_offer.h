// A sender's offer of a file, as YMODEM's block 0 and ZMODEM's ZFILE both
// carry it: the name, NUL, then the size in decimal and, after a blank, the
// modification time in octal (further fields are not read). XMODEM offers
// nothing: its offer is empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

struct FileOffer {
    std::string name;
    std::optional<std::uint64_t> size;
    std::string modified;  // the octal digits as sent; empty when none
    // The files of the batch still to come, this one included (the field
    // after the mode and serial number); none when not sent. 1: the last.
    std::optional<std::uint64_t> filesLeft;
};

// None when the bytes hold no name or an unreadable size.
std::optional<FileOffer> ParseFileOffer(std::string_view payload);

}  // namespace vorlund
