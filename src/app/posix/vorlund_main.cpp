// The Linux service: the same start-up, cycle and teardown as on the desktop,
// headless. SIGTERM and SIGINT are its close command, SIGHUP is answered with
// a line; its messages go to stderr, one line each; a service manager hears
// when it is ready, how it is doing and when it stops.
//
//   vorlund [APPDIR]    (default: the directory of the executable)
#include <cxxabi.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <variant>

#include "app/application_claim.h"
#include "app/application_title.h"
#include "app/command_line.h"
#include "app/frm_main.h"
#include "app/posix/event_loop.h"
#include "app/posix/file_system_report.h"
#include "app/posix/posix_shell.h"
#include "app/posix/serial_neto_ctl.h"
#include "app/posix/service_report.h"
#include "app/posix/service_signals.h"
#include "delivery/delivery_hand_off.h"
#include "download/download_session.h"
#include "platform/platform.h"
#include "platform/posix/file_size_limit.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/service_manager.h"
#include "settings/load_service_settings.h"
#include "settings/protocol_setting.h"
#include "settings/settings_file.h"

namespace vorlund {
namespace {

// The service could not start for a reason other than its two directories.
// (The desktop build ends with 0 here; a service manager must see a failure.)
constexpr int kStartupAbandoned = 3;

constexpr char kProgram[] = "vorlund";

constexpr char kHelp[] =
    "Usage: vorlund [APPDIR]\n"
    "Runs the Vorlund download service: receives each terminal's delivery over\n"
    "the serial line into APPDIR/Spool/X.DAT and converts it into an export file,\n"
    "until SIGTERM or SIGINT. Messages go to standard error. The settings are\n"
    "read at start: restart the service to apply a change (SIGHUP does not).\n"
    "\n"
    "APPDIR is the application directory, which holds Vorlund.ini, Spool and, by\n"
    "default, Out; without it, the directory of this program (but never a system\n"
    "directory such as /usr/bin). One vorlund works in an APPDIR at a time.\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Exit status: 0 after SIGTERM or SIGINT; 1 the spool directory, 2 the output\n"
    "directory can neither be found nor made; 3 the service cannot start for\n"
    "another reason; 4 another vorlund works in APPDIR; 64 bad command line.\n";

// Waiting for the first delivery, once the line is watched.
constexpr char kWaitingForDelivery[] = "V\xE4ntar p\xE5 leverans";
// The answer to SIGHUP.
constexpr char kSettingsReadAtStart[] =
    "Inst\xE4llningarna l\xE4ses bara vid start; starta om tj\xE4nsten f\xF6r att anv\xE4nda "
    "\xE4ndringar";

// The Linux service's own keys of the settings file: the serial device in
// place of /dev/ttyS<COMport - 1>, when it names one, and the protocol.
struct ServiceLineSettings {
    std::string serialDevice;
    ProtocolChoice protocol = ProtocolChoice::kAuto;
};

ServiceLineSettings ReadLineSettings(const Platform& platform, const std::string& appDir) {
    SettingsFile file;
    file.Load(platform, appDir + "Vorlund.ini");
    return {file.Value("SerialDevice"), ProtocolSetting(file).value_or(ProtocolChoice::kAuto)};
}

int RunService(const std::optional<std::string>& appDir) {
    // First of all, so that a signal from here on closes the service in
    // order instead of killing it.
    ServiceSignals signals;
    if (!signals.IsValid()) {
        throw std::runtime_error("The termination signals cannot be received");
    }
    EventLoop loop;
    Journal journal(stderr);
    ServiceManager manager;
    journal.SetStatusSink([&manager](const std::string& status) { manager.Status(status); });
    PosixShell shell(loop, journal);

    // The platform of the build, telling the journal what the file systems
    // of the application directory cannot do.
    FileSystemReport fileSystems(journal);
    const std::unique_ptr<Platform> ownPlatform = MakePosixPlatform(RealSystemCalls(), fileSystems);
    const Platform& platform = *ownPlatform;
    const std::string executable = platform.ExecutablePath();
    const std::string inAppDir =
        appDir ? ExecutablePathIn(*appDir, platform.PathSeparator(), kProgram) : executable;
    const auto claim = ClaimApplicationDirectory(inAppDir, platform.PathSeparator());
    if (const auto* refusal = std::get_if<StartRefusal>(&claim)) {
        journal.Write(Priority::kError, refusal->text, refusal->detail);
        return refusal->exitCode;
    }
    auto loaded = LoadServiceSettings(inAppDir, platform, shell);
    if (const auto* failure = std::get_if<StartupFailure>(&loaded)) {
        return failure->exitCode;
    }
    const ServiceSettings& settings = std::get<ServiceSettings>(loaded);
    // A file beyond the process's own limit could not be written: such a
    // transfer is refused as too large, before it has filled X.DAT.
    const std::uint64_t largestFile = std::min(
        kLargestTransfer, FileSizeLimit().value_or(kLargestTransfer));
    ServiceReport report(journal, manager, platform, largestFile);
    // Before the first reception: what a crash or power cut interrupted is
    // finished, from the ledger's records.
    Result<std::unique_ptr<DeliveryHandOff>> handOff = DeliveryHandOff::Open(
        settings, platform, UserDecimalSeparator(), report, DeliveryHandOff::Writer::kHandOff);
    if (!handOff) {
        throw std::runtime_error("The delivery ledger cannot be opened: " + handOff.reason());
    }
    // Transfers cut off, kept for their senders to continue; their age runs
    // on the event loop's monotonic clock.
    PartialDeliveries partials(platform, settings.SpoolDir,
                               std::chrono::duration_cast<DownloadSession::Time>(
                                   EventLoop::Clock::now().time_since_epoch()));
    const ServiceLineSettings line = ReadLineSettings(platform, settings.AppDir);
    DownloadSession download(**handOff, report, largestFile, &partials, line.protocol);
    SerialNetoCtl netoCtl(loop, download, report, line.serialDevice);
    journal.SetStatus(kWaitingForDelivery, netoCtl.DevicePath());

    TfrmMain frmMain(shell, netoCtl, settings, **handOff, ApplicationTitle(executable),
                     platform.WidePath(settings.SpoolDir));
    const std::string settingsFile = settings.AppDir + "Vorlund.ini";
    const EventLoop::Registration signalled =
        loop.Watch(signals.Descriptor(), POLLIN, [&, settingsFile](short) {
            const ServiceSignals::Taken taken = signals.Take();
            if (taken.hangUp) {
                journal.Write(Priority::kNotice, kSettingsReadAtStart, settingsFile + " (SIGHUP)");
            }
            if (taken.close) {
                manager.Stopping();
                frmMain.OnCloseItemChosen();
            }
        });
    loop.Run();
    return 0;
}

std::string ClassName(const std::exception& error) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && name ? name.get() : typeid(error).name();
}

void ReportStartupFailure(const std::string& className, std::string message) {
    if (!message.empty() && message.back() != '.') {
        message += '.';
    }
    std::fprintf(stderr, "<3>Application Error: Exception %s in module vorlund. %s\n",
                 className.c_str(), message.c_str());
}

}  // namespace
}  // namespace vorlund

int main(int argc, char** argv) {
    const vorlund::Platform& platform = vorlund::NativePlatform();
    const vorlund::CommandLine command = vorlund::RequireApplicationDirectory(
        vorlund::ParseCommandLine(argc, argv), platform.ExecutablePath(), platform.PathSeparator());
    if (const auto status =
            vorlund::AnswerWithoutRunning(command, vorlund::kProgram, vorlund::kHelp)) {
        return *status;
    }
    try {
        return vorlund::RunService(command.appDir);
    } catch (const std::exception& error) {
        vorlund::ReportStartupFailure(vorlund::ClassName(error), error.what());
    } catch (...) {
        vorlund::ReportStartupFailure("unknown", "");
    }
    return vorlund::kStartupAbandoned;
}
