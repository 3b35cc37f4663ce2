// How a serial line is to run, as the control's properties set it; each
// system's serial port takes it as it is.
#pragma once

#include <cstdint>

namespace vorlund {

enum class Parity { kNone, kOdd, kEven };

struct LineSettings {
    std::int32_t baudrate = 115200;
    int dataBits = 8;  // 5 to 8
    Parity parity = Parity::kNone;
    bool twoStopBits = false;
};

}  // namespace vorlund
