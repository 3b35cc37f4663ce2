#pragma once

#include <cstdint>
#include <memory>
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

// A run whose export is written and on disk under a temporary name beside
// its place, where the consumer cannot see it yet: the caller records where
// it goes before it publishes it.
struct PreparedExport {
    ConversionResult result = kConverted;
    ConversionReport report;
    std::unique_ptr<StagedFile> file;  // finished, for kConverted only
};

// The path of X.DAT in SpoolDir.
std::string ReceivedFilePath(const ServiceSettings& settings, const Platform& platform);

// The conversion of `receivedPath` into a prepared export; the export's path
// is in report.exportPath. The received file is left as it was.
PreparedExport PrepareExport(const ServiceSettings& settings, const Platform& platform,
                             char decimalSeparator, const std::string& receivedPath);

// Publishes a prepared export in place; a failure leaves none behind and
// gives the result of a failed write.
ConversionResult PublishExport(const ServiceSettings& settings, const Platform& platform,
                               PreparedExport& prepared);

// One whole conversion run: X.DAT in SpoolDir (or `receivedPath`) becomes
// one export file in OutDir. `report`, when given, is filled in on every
// result.
ConversionResult ConvertReceivedFile(const ServiceSettings& settings, const Platform& platform,
                                     char decimalSeparator, ConversionReport* report = nullptr,
                                     const std::string& receivedPath = {});

}  // namespace vorlund
