#include "app/posix/start_report.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/version.h"
#include "common/cp1252.h"
#include "platform/posix/system_error_text.h"

namespace vorlund {
namespace {

constexpr char kStarting[] = "Vorlund startar";
constexpr char kSettingsUnread[] =
    "Inst\xE4llningsfilen kunde inte l\xE4sas, s\xE5 varje nyckel har sitt standardv\xE4rde";
constexpr char kSettingsFault[] = "Fel i inst\xE4llningsfilen";

// The file a link leads to, as far as it leads: the settings of a packaged
// service lie in /etc/vorlund, not in its application directory.
std::string Followed(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
        return resolved;
    }
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0) {
        return path;
    }
    const std::string link(target, static_cast<std::size_t>(length));
    return link[0] == '/' ? link : path.substr(0, path.rfind('/') + 1) + link;
}

std::string WholePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char directory[PATH_MAX];
    if (::getcwd(directory, sizeof directory) == nullptr) {
        return path;
    }
    const std::string base(directory);
    return base + (base.back() == '/' ? "" : "/") + path;
}

std::string SeparatorText(std::int32_t separator) {
    switch (separator) {
        case 0:
            return "fields separated by ','";
        case 1:
            return "fields separated by ';'";
        case 2:
            return "fields separated by TAB";
        default:
            return "no separator between the fields";
    }
}

std::string FormatText(const ServiceSettings& settings) {
    std::string text = settings.UseOutFile
                           ? "every delivery to " + settings.OutFile + " (rewritten each time)"
                           : std::string("one file per delivery, YYYYMMDDhhmmss.txt");
    text += ", " + SeparatorText(settings.Separator) + " (Separator=" +
            std::to_string(settings.Separator) + "), ";
    text += settings.UseQuotes ? "in double quotes" : "no quotes";
    text += settings.Aggregation ? ", summed per article code"
                                 : ", one line per received line";
    return text;
}

std::string LineText(const StartFacts& facts) {
    return facts.device + ", " + std::to_string(BaudRateFromIndex(facts.settings.BaudRateIndex)) +
           " bit/s (BaudRate=" + std::to_string(facts.settings.BaudRateIndex) + "), protocol " +
           std::string(ProtocolChoiceName(facts.protocol));
}

}  // namespace

StartFacts GatherStartFacts(const ServiceSettings& settings, const SettingsFile& file, bool read,
                            std::string device, ProtocolChoice protocol) {
    StartFacts facts;
    facts.settings = settings;
    facts.settingsFile = Followed(settings.AppDir + "Vorlund.ini");
    facts.settingsRead = read;
    if (!read) {
        struct stat info {};
        facts.settingsProblem = ::stat(facts.settingsFile.c_str(), &info) != 0
                                    ? SystemErrorText(errno)
                                    : "it cannot be read, or another program writes it";
    }
    facts.device = std::move(device);
    facts.protocol = protocol;
    facts.outDir = WholePath(settings.OutDir);
    facts.findings = CheckSettings(file, '/');
    return facts;
}

void JournalStartFacts(Journal& journal, const StartFacts& facts) {
    journal.Write(Priority::kInfo, kStarting,
                  std::string("version ") + kVersion + "; line " + LineText(facts) + "; Out " +
                      facts.outDir + ", " + FormatText(facts.settings) + "; settings " +
                      facts.settingsFile);
    if (!facts.settingsRead) {
        journal.Write(Priority::kWarning, kSettingsUnread,
                      facts.settingsFile + ": " + facts.settingsProblem);
    }
    for (const SettingsFinding& finding : facts.findings) {
        journal.Write(Priority::kWarning, kSettingsFault,
                      facts.settingsFile + ", line " + std::to_string(finding.line) + ": " +
                          finding.text + ": " + finding.problem);
    }
}

Status CheckOutWritable(const std::string& outDir) {
    if (::access(outDir.c_str(), W_OK | X_OK) == 0) {
        return {};
    }
    const int error = errno;
    std::string reason = outDir + ": " + SystemErrorText(error);
    if (error == EROFS) {
        reason += " (under the unit, the service may write only in its own directory and in "
                  "ReadWritePaths=: add the folder in a drop-in, see vorlund(8))";
    } else if (error == EACCES) {
        reason += " (the service's user may not write there: install -d -o vorlund -g vorlund "
                  "-m 2775 " + outDir + ")";
    }
    return Failure{reason};
}

Status CheckLine(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
        return Failure{device + ": " + SystemErrorText(errno)};
    }
    if (!S_ISCHR(info.st_mode)) {
        return Failure{device + ": not a serial line (not a character device)"};
    }
    if (::access(device.c_str(), R_OK | W_OK) != 0) {
        return Failure{device + ": " + SystemErrorText(errno) +
                       " (the service's user must be in the group that owns the line, dialout)"};
    }
    return {};
}

int PrintCheck(std::FILE* stream, const StartFacts& facts, const Status& line, const Status& out) {
    std::string text = std::string("vorlund (Vorlund) ") + kVersion + ", application directory " +
                       facts.settings.AppDir + "\n";
    text += "Settings: " + facts.settingsFile +
            (facts.settingsRead ? "" : " (not read: " + facts.settingsProblem +
                                           "; every key takes its default)") +
            "\n";
    text += "Line:     " + LineText(facts) + "\n";
    text += "Out:      " + facts.outDir + "\n";
    text += "Export:   " + FormatText(facts.settings) + "\n";
    for (const SettingsFinding& finding : facts.findings) {
        text += "warning: line " + std::to_string(finding.line) + ": " + finding.text + ": " +
                finding.problem + "\n";
    }
    if (!line) {
        text += "error: the line cannot be used: " + line.reason() + "\n";
    }
    if (!out) {
        text += "error: Out cannot be written: " + out.reason() + "\n";
    }
    if (line && out) {
        text += "The line and the output directory can be used.\n";
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
    return line && out ? 0 : 1;
}

}  // namespace vorlund
