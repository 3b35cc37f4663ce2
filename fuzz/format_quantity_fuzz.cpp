// FormatQuantity on any double: at most 15 significant digits, and the text
// reads back to the value rounded to 15 digits.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "conversion/format_quantity.h"
#include "conversion/parse_float.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(double)) {
        return 0;
    }
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    const std::string text = vorlund::FormatQuantity(vorlund::Extended(value), ',');
    if (std::isnan(value) || std::isinf(value)) {
        return 0;
    }
    std::size_t digits = 0;
    const std::size_t mantissaEnd = std::min(text.find('E'), text.size());
    for (std::size_t i = 0; i < mantissaEnd; ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            ++digits;
    }
    if (text.empty() || text.find(',') != std::string::npos || digits > 15 + 4) {
        std::abort();  // 15 significant digits, plus "0.000" before small values
    }
    const auto back = vorlund::ParseFloat(text, '.');
    if (!back) {
        std::abort();
    }
    const double magnitude = std::fabs(value);
    // The difference in extended precision: 15 digits of the largest double
    // read back lie beyond the double range.
    const double error = std::fabs(static_cast<double>(*back - vorlund::Extended(value)));
    if (magnitude >= 1e-300 && error > magnitude * 1e-14) {
        std::abort();
    }
    return 0;
}
