#pragma once

#include <string_view>
#include <variant>

#include "common/info_box.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

// A working directory could neither be found nor made. Its message has been
// shown already; the process ends with exitCode.
struct StartupFailure {
    int exitCode = 0;  // 1 spool directory, 2 output directory
};

inline constexpr int kSpoolDirectoryFailure = 1;
inline constexpr int kOutputDirectoryFailure = 2;

// Works out the application directory from the executable's path, makes the
// spool and output directories when missing, and reads Vorlund.ini.
std::variant<ServiceSettings, StartupFailure> LoadServiceSettings(std::string_view executablePath,
                                                                  const Platform& platform,
                                                                  InfoBox& infoBox);

// The same settings, read without making or testing any directory: what a
// start would use, for a check beside a running service.
ServiceSettings ReadServiceSettings(std::string_view executablePath, const Platform& platform);

}  // namespace vorlund
