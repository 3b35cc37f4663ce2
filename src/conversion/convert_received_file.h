#pragma once

#include <string>

#include "conversion/conversion_result.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

// One conversion run: X.DAT in SpoolDir becomes one export file in OutDir.
// X.DAT is left as it was, whatever the result. On success `exportPath`, when
// given, receives the path of the file written.
ConversionResult ConvertReceivedFile(const ServiceSettings& settings, const Platform& platform,
                                     char decimalSeparator, std::string* exportPath = nullptr);

}  // namespace vorlund
