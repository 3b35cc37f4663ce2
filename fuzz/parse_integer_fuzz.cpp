// ParseInteger against an independent reading of the same rules.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/parse_integer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto value = vorlund::ParseInteger(text);
    if (!value) {
        return 0;
    }
    // Whatever it accepts is spaces, then a sign or hex prefix, then digits.
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos)
        std::abort();
    const std::string body = text.substr(start);
    const bool hex = body[0] == '$' || body[0] == 'x' || body[0] == 'X' ||
                     body.rfind("0x", 0) == 0 || body.rfind("0X", 0) == 0;
    if (!hex) {
        const long long wide = std::strtoll(body.c_str(), nullptr, 10);
        if (wide != *value)
            std::abort();
    }
    return 0;
}
