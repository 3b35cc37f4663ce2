// The Linux service: the same start-up, cycle and teardown as on the desktop,
// headless. SIGTERM and SIGINT are its close command; SIGHUP closes it and
// starts it again in the same process, on its settings read afresh; its
// messages go to stderr, one line each; a service manager hears when it is
// ready, how it is doing, when it reloads and when it stops.
//
//   vorlund [APPDIR]          (default: the directory of the executable)
//   vorlund --check [APPDIR]
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
#include "app/posix/operator_channel.h"
#include "app/posix/posix_shell.h"
#include "app/posix/serial_neto_ctl.h"
#include "app/posix/service_report.h"
#include "app/posix/service_signals.h"
#include "app/posix/start_report.h"
#include "app/run_marker.h"
#include "delivery/delivery_hand_off.h"
#include "download/download_session.h"
#include "platform/platform.h"
#include "platform/posix/directory_owner.h"
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
    "       vorlund --check [APPDIR]\n"
    "Runs the Vorlund download service: receives each terminal's delivery over\n"
    "the serial line into APPDIR/Spool/X.DAT and converts it into an export file,\n"
    "until SIGTERM or SIGINT. Messages go to standard error. The settings are\n"
    "read at start; SIGHUP (systemctl reload) starts the service afresh in the\n"
    "same process, which reads them again.\n"
    "\n"
    "APPDIR is the application directory, which holds Vorlund.ini, Spool and, by\n"
    "default, Out; without it, the directory of this program (but never a system\n"
    "directory such as /usr/bin). One vorlund works in an APPDIR at a time.\n"
    "\n"
    "      --check    print the settings of APPDIR as a start would use them, each\n"
    "                 line of Vorlund.ini that is not taken as it stands, and\n"
    "                 whether the line and Out can be used; changes nothing, also\n"
    "                 beside a running service\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Exit status: 0 after SIGTERM or SIGINT; 1 the spool directory, 2 the output\n"
    "directory can neither be found nor made; 3 the service cannot start for\n"
    "another reason; 4 another vorlund works in APPDIR; 64 bad command line.\n"
    "--check: 0 the line and Out can be used, 1 either cannot.\n";

// Waiting for the first delivery, once the line is watched.
constexpr char kWaitingForDelivery[] = "V\xE4ntar p\xE5 leverans";
// The answer to SIGHUP, and the state meanwhile.
constexpr char kSettingsReadAgain[] = "Inst\xE4llningarna l\xE4ses om";
constexpr char kReloading[] = "L\xE4ser om inst\xE4llningarna";
constexpr char kClosing[] = "St\xE4ngs";
constexpr char kOutNotWritable[] =
    "Utdatamappen kan inte skrivas; leveranserna sparas undan tills den kan det";
// The cycle's message for code 30, and the words for a line that was open.
constexpr std::string_view kCannotOpenComPort =
    "Kunde inte \xF6ppna COM-port. Kontrollera att ingen annan applikation anv\xE4nder porten.";
constexpr char kComPortLost[] = "F\xF6rbindelsen p\xE5 COM-porten br\xF6ts.";
constexpr char kNoOperatorChannel[] =
    "vorlund-convert --settle n\xE5r inte tj\xE4nsten; stoppa den f\xF6rst f\xF6r att "
    "exportera sparade leveranser";

// The Linux service's own keys of the settings file: the serial device in
// place of /dev/ttyS<COM-Port>, when it names one, and the protocol.
struct ServiceLineSettings {
    std::string device;
    ProtocolChoice protocol = ProtocolChoice::kAuto;
};

ServiceLineSettings LineSettingsOf(const SettingsFile& file, const ServiceSettings& settings) {
    std::string device = file.Value("SerialDevice");
    if (device.empty()) {
        device = SerialNetoCtl::DeviceFor(settings.ComPortIndex);
    }
    return {std::move(device), ProtocolSetting(file).value_or(ProtocolChoice::kAuto)};
}

// How a life of the service ended: with its exit status, or to start again
// on settings read afresh.
struct Ending {
    int exitCode = 0;
    bool again = false;
};

Ending RunService(const std::optional<std::string>& appDir, ServiceSignals& signals) {
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
        return {refusal->exitCode};
    }
    auto loaded = LoadServiceSettings(inAppDir, platform, shell);
    if (const auto* failure = std::get_if<StartupFailure>(&loaded)) {
        return {failure->exitCode};
    }
    const ServiceSettings& settings = std::get<ServiceSettings>(loaded);
    // What the settings are, as they will be used, and what in them is not
    // taken as it stands: a typo must not pass unseen.
    SettingsFile file;
    const bool read = file.Load(platform, settings.AppDir + "Vorlund.ini");
    const ServiceLineSettings line = LineSettingsOf(file, settings);
    const StartFacts facts = GatherStartFacts(settings, file, read, line.device, line.protocol);
    JournalStartFacts(journal, facts);
    // A file beyond the process's own limit could not be written: such a
    // transfer is refused as too large, before it has filled X.DAT.
    const std::uint64_t largestFile = std::min(
        kLargestTransfer, FileSizeLimit().value_or(kLargestTransfer));
    ServiceReport report(journal, manager, platform, largestFile);
    report.Describe({settings.AppDir.substr(0, settings.AppDir.size() - 1), line.device,
                     BaudRateFromIndex(settings.BaudRateIndex), settings.BaudRateIndex});
    // An Out that exists but cannot be written would keep every delivery.
    if (const Status writable = CheckOutWritable(facts.outDir); !writable) {
        journal.Write(Priority::kError, kOutNotWritable, writable.reason());
    }
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
    // This run's mark, and whether the run before ended without its close.
    const RunMarker running(platform, settings.SpoolDir);
    DownloadSession download(**handOff, report, largestFile, &partials, line.protocol);
    if (running.PreviousRunCutShort()) {
        download.AfterRunCutShort();
    }
    SerialNetoCtl netoCtl(loop, download, report, line.device);
    journal.SetStatus(kWaitingForDelivery, netoCtl.DevicePath());
    // The cycle says the port cannot be opened; a line that hung up was open.
    shell.SetWording([&netoCtl](std::string_view text) -> std::string_view {
        return text == kCannotOpenComPort && netoCtl.LineWasLost() ? kComPortLost : text;
    });
    // The operator's command settles what waits through the service itself.
    const OperatorChannel channel(loop, **handOff, settings.SpoolDir);
    if (!channel.Opened()) {
        journal.Write(Priority::kWarning, kNoOperatorChannel, channel.Opened().reason());
    }

    TfrmMain frmMain(shell, netoCtl, settings, **handOff, ApplicationTitle(executable),
                     platform.WidePath(settings.SpoolDir));
    bool again = false;
    const EventLoop::Registration signalled =
        loop.Watch(signals.Descriptor(), POLLIN, [&](short) {
            const ServiceSignals::Taken taken = signals.Take();
            if (taken.close || (taken.hangUp && !again)) {
                // A reload is a close and a new start in the same process,
                // which a service manager counts as no start of its own.
                again = !taken.close;
                if (again) {
                    journal.Write(Priority::kNotice, kSettingsReadAgain,
                                  facts.settingsFile + " (SIGHUP)");
                    manager.Reloading();
                    journal.SetStatus(kReloading);
                } else {
                    manager.Stopping();
                    journal.SetStatus(kClosing);
                }
                frmMain.OnCloseItemChosen();
            }
        });
    loop.Run();
    return {0, again};
}

// vorlund --check: the settings as a start would use them, read as the
// service's user reads them, and nothing made or changed.
int CheckApplicationDirectory(const std::optional<std::string>& appDir) {
    const Platform& platform = NativePlatform();
    const std::string inAppDir = appDir ? ExecutablePathIn(*appDir, '/', kProgram)
                                        : platform.ExecutablePath();
    const ServiceSettings settings = ReadServiceSettings(inAppDir, platform);
    if (const Status owner = BecomeOwnerOf(settings.AppDir); !owner) {
        std::fprintf(stderr, "vorlund: %s\n", owner.reason().c_str());
        return 1;
    }
    SettingsFile file;
    const bool read = file.Load(platform, settings.AppDir + "Vorlund.ini");
    const ServiceLineSettings line = LineSettingsOf(file, settings);
    const StartFacts facts = GatherStartFacts(settings, file, read, line.device, line.protocol);
    // An Out still to be made is made at start, one level: its parent must
    // take it.
    const std::string out = facts.outDir;
    const Status writable =
        platform.IsDirectory(out) ? CheckOutWritable(out)
                                  : CheckOutWritable(out.substr(0, std::max<std::size_t>(
                                                                       1, out.rfind('/'))));
    return PrintCheck(stdout, facts, CheckLine(line.device), writable);
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
        vorlund::ParseCommandLine(argc, argv, false, {{"--check"}}), platform.ExecutablePath(),
        platform.PathSeparator());
    if (const auto status =
            vorlund::AnswerWithoutRunning(command, vorlund::kProgram, vorlund::kHelp)) {
        return *status;
    }
    if (command.mode == "--check") {
        return vorlund::CheckApplicationDirectory(command.appDir);
    }
    try {
        // First of all, so that a signal from here on closes the service in
        // order instead of killing it; it outlives each start.
        vorlund::ServiceSignals signals;
        if (!signals.IsValid()) {
            throw std::runtime_error("The termination signals cannot be received");
        }
        for (;;) {
            const vorlund::Ending ending = vorlund::RunService(command.appDir, signals);
            if (!ending.again) {
                return ending.exitCode;
            }
        }
    } catch (const std::exception& error) {
        vorlund::ReportStartupFailure(vorlund::ClassName(error), error.what());
    } catch (...) {
        vorlund::ReportStartupFailure("unknown", "");
    }
    return vorlund::kStartupAbandoned;
}
