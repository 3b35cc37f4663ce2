// A delivery whose conversion failed is kept: X.DAT is copied, unchanged, to
// a name of its own in a folder under the spool directory before the failure
// is shown, so the next delivery, which replaces X.DAT, cannot take it away.
// An operator converts a kept file by putting it back as X.DAT and running
// vorlund-convert.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

// The folder in SpoolDir that holds the kept deliveries.
inline constexpr char kKeptFolder[] = "Okonverterade";

enum class KeepResult {
    kNothingToKeep,  // there is no X.DAT
    kKept,
    kNotKept,  // X.DAT is there, but the copy failed
};

// Copies X.DAT to SpoolDir/Okonverterade/YYYYMMDD-hhmmss-<reason>.DAT (a
// later copy in the same second adds -2, -3 ... before .DAT, so no name is
// ever reused), making the folder when it is missing. `reason` says why the
// conversion failed (its result). The copy's path goes to `keptPath`.
KeepResult KeepFailedDelivery(const ServiceSettings& settings, const Platform& platform,
                              std::string_view reason, std::string* keptPath = nullptr);

}  // namespace vorlund
