#include "conversion/line_format.h"

namespace vorlund {

std::string BuildLineFormat(bool useQuotes, std::int32_t separator) {
    const std::string field = useQuotes ? "\"%s\"" : "%s";
    std::string format = field;
    switch (separator) {
        case 0:
            format += ',';
            break;
        case 1:
            format += ';';
            break;
        case 2:
            format += '\t';
            break;
        default:
            break;
    }
    return format + field + "\r\n";
}

void FormatLine(std::string_view format, std::string_view code, std::string_view quantity,
                std::string& out) {
    std::string_view slots[] = {code, quantity};
    std::size_t next = 0;
    std::size_t start = 0;
    for (std::size_t slot = format.find("%s"); slot != std::string_view::npos && next < 2;
         slot = format.find("%s", start)) {
        out.append(format, start, slot - start);
        out += slots[next++];
        start = slot + 2;
    }
    out.append(format, start);
}

}  // namespace vorlund
