// Which line protocol the built-in receivers speak, from the key Protocol of
// Vorlund.ini. It is no setting of the terminal control: on Windows its
// presence puts the built-in receivers in the control's place, and on Linux
// it fixes the protocol for a sender that the recogniser cannot draw out (a
// ZMODEM sender that waits to be asked).
#pragma once

#include <optional>
#include <string_view>

#include "settings/settings_file.h"

namespace vorlund {

enum class ProtocolChoice {
    kAuto,    // every protocol, recognised from the sender's first frames
    kZmodem,  // ZMODEM only, offered unasked
    kYmodem,
    kXmodem,
};

// "auto", "ZMODEM", "YMODEM" or "XMODEM", in any letter case and with blanks
// around it; none for anything else.
std::optional<ProtocolChoice> ParseProtocolChoice(std::string_view value);

// The Protocol key of the file: none when it is missing or not a protocol.
std::optional<ProtocolChoice> ProtocolSetting(const SettingsFile& file);

// As the value is written in the settings file and in messages.
std::string_view ProtocolChoiceName(ProtocolChoice choice);

}  // namespace vorlund
