// A delivery whose conversion failed is kept: X.DAT is given a name of its
// own in a folder under the spool directory before the failure is shown, so
// the next delivery, which replaces X.DAT, cannot take it away. An operator
// converts a kept file with vorlund-convert and then deletes it.
#pragma once

#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

// The folder in SpoolDir that holds the kept deliveries.
inline constexpr char kKeptFolder[] = "Okonverterade";

// A free name SpoolDir/Okonverterade/YYYYMMDD-hhmmss-<reason>.DAT for a
// delivery kept now (a later one in the same second adds -2, -3 ... before
// .DAT, so no name is ever reused), the folder made when it is missing.
// `reason` says why it is kept: the conversion's result.
Result<std::string> ChooseKeptPath(const ServiceSettings& settings, const Platform& platform,
                                   std::string_view reason);

}  // namespace vorlund
