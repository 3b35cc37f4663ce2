#pragma once

#include <cstdint>
#include <string>

#include "conversion/conversion_result.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

// What an operator wants to know about one run beyond its result.
struct ConversionReport {
    std::string exportPath;     // the export written; empty on a failure
    std::uint64_t records = 0;  // records read from X.DAT
    std::uint64_t exportLines = 0;
    // On a failure: the file or directory it concerns, and the system's text
    // for the failed operation (empty when no operation of the system failed,
    // as when every time-stamped name is taken).
    std::string failedPath;
    std::string errorText;
};

// One conversion run: X.DAT in SpoolDir becomes one export file in OutDir.
// X.DAT is left as it was, whatever the result. `report`, when given, is
// filled in on every result.
ConversionResult ConvertReceivedFile(const ServiceSettings& settings, const Platform& platform,
                                     char decimalSeparator, ConversionReport* report = nullptr);

}  // namespace vorlund
