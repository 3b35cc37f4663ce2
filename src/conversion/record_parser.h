#pragma once

#include <optional>
#include <string_view>

#include "conversion/entry_type.h"

namespace vorlund {

// One line of X.DAT, its line end removed: "code;quantity". Without a ';'
// the line holds no record, which ends the data.
std::optional<entrytype> ParseEntryLine(std::string_view line, char decimalSeparator);

// The trimmed quantity text, '.' as its decimal point; 0 when unreadable.
Extended ParseQuantity(std::string_view text, char decimalSeparator);

// Removes every byte from 0x00 to 0x20 at both ends.
std::string_view TrimControls(std::string_view text);

}  // namespace vorlund
