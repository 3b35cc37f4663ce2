// An application directory in a test's temporary directory, as the service
// finds it at start-up: Spool and Out made, the settings naming them.
#pragma once

#include <filesystem>
#include <string>

#include "settings/service_settings.h"
#include "testing/temp_dir.h"

namespace vorlund::testing {

inline ServiceSettings MakeApplicationDirectory(const TempDir& dir,
                                                const std::string& spool = "Spool") {
    std::filesystem::create_directories(dir.path() / spool);
    std::filesystem::create_directories(dir.path() / "Out");
    ServiceSettings settings;
    settings.AppDir = dir.Prefix();
    settings.SpoolDir = dir.Prefix() + spool;
    settings.OutDir = dir.Prefix() + "Out";
    return settings;
}

}  // namespace vorlund::testing
