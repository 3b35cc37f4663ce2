#include "settings/service_settings.h"

#include <array>

namespace vorlund {

std::int32_t BaudRateFromIndex(std::int32_t index) {
    constexpr std::array<std::int32_t, 6> kBaudRates = {4800, 9600, 19200, 38400, 57600, 115200};
    if (index < 0 || index >= static_cast<std::int32_t>(kBaudRates.size())) {
        return kBaudRates.back();
    }
    return kBaudRates[static_cast<std::size_t>(index)];
}

}  // namespace vorlund
