// What the Linux service says of its settings when it starts, and what
// `vorlund --check` prints: the settings as they will be used, each line of
// the settings file that is not taken as it stands, and whether the line
// and Out can be used. A bad value still takes its default, as everywhere;
// here it is said.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/posix/journal.h"
#include "common/result.h"
#include "settings/protocol_setting.h"
#include "settings/service_settings.h"
#include "settings/settings_check.h"
#include "settings/settings_file.h"

namespace vorlund {

struct StartFacts {
    ServiceSettings settings;
    std::string settingsFile;  // where the settings lie, a link followed
    bool settingsRead = false;
    std::string settingsProblem;  // why they could not be read
    std::string device;
    ProtocolChoice protocol = ProtocolChoice::kAuto;
    std::string outDir;  // as a whole path: a relative one from the working directory
    std::vector<SettingsFinding> findings;
};

// `file` as loaded from the application directory's Vorlund.ini (`read`:
// whether it could be).
StartFacts GatherStartFacts(const ServiceSettings& settings, const SettingsFile& file, bool read,
                            std::string device, ProtocolChoice protocol);

// The line said at start (version, line, speed, Out, format), and a warning
// for each finding.
void JournalStartFacts(Journal& journal, const StartFacts& facts);

// Whether the service can make files in Out (as the user it runs as, under
// whatever the system enforces); the failure names the directory, the
// system's reason and what to do.
Status CheckOutWritable(const std::string& outDir);
// Whether `device` can be opened as a serial line by this user; nothing is
// opened.
Status CheckLine(const std::string& device);

// The report of `vorlund --check`; its exit status: 0, or 1 when the line
// or Out cannot be used.
int PrintCheck(std::FILE* stream, const StartFacts& facts, const Status& line, const Status& out);

}  // namespace vorlund
