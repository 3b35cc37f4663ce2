#include "settings/load_service_settings.h"

#include <optional>

#include "settings/parse_integer.h"
#include "settings/settings_file.h"

namespace vorlund {
namespace {

constexpr std::string_view kSpoolFailureText =
    "Mapp f\xF6r tempor\xE4ra filer kunde ej skapas. Applikationen avslutas";
constexpr std::string_view kOutputFailureText =
    "Utdatamappen finns inte och kunde inte skapas. Applikationen avslutas";

// Fails with the directory and the system's reason, for an operator to act on.
Status EnsureDirectory(const Platform& platform, const std::string& path) {
    if (platform.IsDirectory(path)) {
        return {};
    }
    if (Status made = platform.MakeDirectory(path); !made) {
        return Failure{path + ": " + made.reason()};
    }
    return {};
}

std::int32_t IntegerOr(const SettingsFile& file, std::string_view key, std::int32_t fallback) {
    return ParseInteger(file.Value(key)).value_or(fallback);
}

ServiceSettings Directories(std::string_view executablePath, char separator) {
    ServiceSettings settings;
    settings.AppDir = std::string(executablePath.substr(0, executablePath.rfind(separator) + 1));
    settings.SpoolDir = settings.AppDir + "Spool";
    return settings;
}

void ReadSettingsFile(ServiceSettings& settings, const Platform& platform) {
    const char separator = platform.PathSeparator();
    SettingsFile file;
    file.Load(platform, settings.AppDir + "Vorlund.ini");

    settings.OutDir = file.Value("OutDir");
    if (!settings.OutDir.empty() && settings.OutDir.back() == separator) {
        settings.OutDir.pop_back();
    }
    if (settings.OutDir.empty()) {
        settings.OutDir = settings.AppDir + "Out";
    }
    settings.OutFile = file.Value("OutFile");
    settings.UseOutFile = !settings.OutFile.empty();
    settings.ComPortIndex = IntegerOr(file, "COM-Port", 0);
    settings.BaudRateIndex = IntegerOr(file, "BaudRate", 5);
    settings.UseQuotes = IntegerOr(file, "UseQuotes", 0) != 0;
    settings.Separator = IntegerOr(file, "Separator", 0);
    settings.Aggregation = IntegerOr(file, "Aggregation", 1) != 0;
}

}  // namespace

ServiceSettings ReadServiceSettings(std::string_view executablePath, const Platform& platform) {
    ServiceSettings settings = Directories(executablePath, platform.PathSeparator());
    ReadSettingsFile(settings, platform);
    return settings;
}

std::variant<ServiceSettings, StartupFailure> LoadServiceSettings(std::string_view executablePath,
                                                                  const Platform& platform,
                                                                  InfoBox& infoBox) {
    ServiceSettings settings = Directories(executablePath, platform.PathSeparator());

    if (Status spool = EnsureDirectory(platform, settings.SpoolDir); !spool) {
        infoBox.ShowInfoBoxWithDetail(kSpoolFailureText, spool.reason());
        return StartupFailure{kSpoolDirectoryFailure};
    }

    ReadSettingsFile(settings, platform);

    if (Status out = EnsureDirectory(platform, settings.OutDir); !out) {
        infoBox.ShowInfoBoxWithDetail(kOutputFailureText, out.reason());
        return StartupFailure{kOutputDirectoryFailure};
    }
    return settings;
}

}  // namespace vorlund
