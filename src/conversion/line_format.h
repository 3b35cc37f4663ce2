#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlund {

// The format of every export line of a run: field, separator, field, CR LF,
// with each field a "%s" slot, quoted when UseQuotes is on.
std::string BuildLineFormat(bool useQuotes, std::int32_t separator);

// Appends one line to `out`: the format with its two slots filled. The field
// texts are copied as they are; nothing in them is interpreted or escaped, and
// the line is never cut, however long.
void FormatLine(std::string_view format, std::string_view code, std::string_view quantity,
                std::string& out);

}  // namespace vorlund
