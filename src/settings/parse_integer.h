#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vorlund {

// The strict text-to-integer conversion of the settings and of a quantity's
// fraction digits: leading spaces (not TABs), then a signed decimal number or
// a hexadecimal one ("$", "x", "X", "0x", "0X"; the 32 bits read as signed),
// and nothing after the digits.
std::optional<std::int32_t> ParseInteger(std::string_view text);

}  // namespace vorlund
