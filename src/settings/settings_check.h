// What a settings file says that the service will not take as it stands:
// a value that takes its default because it is not valid, a line whose name
// misses its key by a blank around '=', a key no version knows, a key set
// twice. The rules stay as they are (a bad value takes its default, a line
// that names no key is passed over); this only says so, for the Linux
// service's journal at start and for `vorlund --check`. The Windows program
// stays silent about its settings.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "settings/settings_file.h"

namespace vorlund {

struct SettingsFinding {
    std::size_t line = 0;  // 1-based
    std::string text;      // the line as it stands in the file
    std::string problem;   // what is wrong, and what is used instead
};

// Every finding of `file`, in the order of its lines. `separator`: the
// platform's path separator, by which a relative OutDir is told.
std::vector<SettingsFinding> CheckSettings(const SettingsFile& file, char separator);

}  // namespace vorlund
