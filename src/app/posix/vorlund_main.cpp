// The Linux service: the same start-up, cycle and teardown as on the desktop,
// headless. SIGTERM and SIGINT are its close command; its messages go to
// stderr, one line each.
#include <cxxabi.h>
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <variant>

#include "app/frm_main.h"
#include "app/posix/event_loop.h"
#include "app/posix/posix_shell.h"
#include "app/posix/serial_neto_ctl.h"
#include "app/posix/termination_signals.h"
#include "platform/platform.h"
#include "settings/load_service_settings.h"
#include "settings/settings_file.h"

namespace vorlund {
namespace {

// The service could not start for a reason other than its two directories.
// (The desktop build ends with 0 here; a service manager must see a failure.)
constexpr int kStartupAbandoned = 3;

// The serial device in place of /dev/ttyS<COMport - 1>, when the settings
// file names one.
std::string SerialDeviceSetting(const Platform& platform, const std::string& appDir) {
    SettingsFile file;
    file.Load(platform, appDir + "Vorlund.ini");
    return file.Value("SerialDevice");
}

int RunService() {
    // First of all, so that a signal from here on closes the service in
    // order instead of killing it.
    TerminationSignals signals;
    if (!signals.IsValid()) {
        throw std::runtime_error("The termination signals cannot be received");
    }
    EventLoop loop;
    Journal journal(stderr);
    PosixShell shell(loop, journal);
    SerialNetoCtl netoCtl(loop, journal);

    Platform& platform = NativePlatform();
    auto loaded = LoadServiceSettings(platform.ExecutablePath(), platform, shell);
    if (const auto* failure = std::get_if<StartupFailure>(&loaded)) {
        return failure->exitCode;
    }
    const ServiceSettings& settings = std::get<ServiceSettings>(loaded);
    netoCtl.SetSerialDevice(SerialDeviceSetting(platform, settings.AppDir));

    TfrmMain frmMain(shell, netoCtl, settings, platform, UserDecimalSeparator());
    const EventLoop::Id closeCommand =
        loop.Watch(signals.Descriptor(), POLLIN, [&signals, &frmMain](short) {
            if (signals.Take()) {
                frmMain.OnCloseItemChosen();
            }
        });
    loop.Run();
    loop.Unwatch(closeCommand);
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

int main() {
    try {
        return vorlund::RunService();
    } catch (const std::exception& error) {
        vorlund::ReportStartupFailure(vorlund::ClassName(error), error.what());
    } catch (...) {
        vorlund::ReportStartupFailure("unknown", "");
    }
    return vorlund::kStartupAbandoned;
}
