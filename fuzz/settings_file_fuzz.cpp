// The settings reader on any bytes: every key lookup stays inside the text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/parse_integer.h"
#include "settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vorlund::SettingsFile file;
    file.LoadText(text);
    for (const char* key : {"OutDir", "OutFile", "COM-Port", "BaudRate", "UseQuotes", "Separator",
                            "Aggregation", "SerialDevice", ""}) {
        const std::string value = file.Value(key);
        if (value.size() > size || value.find_first_of("\r\n") != std::string::npos) {
            std::abort();
        }
        (void)vorlund::ParseInteger(value);
    }
    return 0;
}
