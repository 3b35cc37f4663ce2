#pragma once

#include <string>

#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

// OutDir + separator + OutFile, or + the time stamp "YYYYMMDDhhmmss.txt".
std::string BuildExportPath(const ServiceSettings& settings, const LocalDateTime& time,
                            char pathSeparator);

// The same clock reading one second later, with the calendar carried.
LocalDateTime NextSecond(LocalDateTime time);

}  // namespace vorlund
