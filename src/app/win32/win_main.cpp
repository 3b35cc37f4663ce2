// Vorlund.exe: the resident download service. Start-up builds the hidden
// windows and the main window's parts, loads the settings and runs the event
// loop until the main window is closed; the teardown follows the objects'
// lifetimes.

#include <windows.h>

#include <optional>
#include <string>
#include <variant>

#include "app/application_title.h"
#include "app/win32/application_error.h"
#include "app/win32/application_window.h"
#include "app/win32/com_apartment.h"
#include "app/win32/main_form.h"
#include "app/win32/single_instance.h"
#include "app/win32/win32_shell.h"
#include "platform/platform.h"
#include "settings/load_service_settings.h"
#include "settings/protocol_setting.h"
#include "settings/settings_file.h"

namespace vorlund {
namespace {

constexpr char kAlreadyRunning[] = "Vorlund k\xF6rs redan.";

// Where Vorlund.ini names a Protocol, Vorlund's own control takes the
// terminal control's place; without one (or with a value that names none)
// the terminal control is used, as it always has been. Read before the
// control is made, which is before the settings are.
std::optional<ProtocolChoice> BuiltInProtocol(const Platform& platform,
                                              const std::string& executablePath) {
    SettingsFile file;
    file.Load(platform,
              executablePath.substr(0, executablePath.rfind(platform.PathSeparator()) + 1) +
                  "Vorlund.ini");
    return ProtocolSetting(file);
}

int RunEventLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// Everything from the application's window to the end of the event loop.
// Returns the exit code; exceptions escape to the caller.
int RunService(HINSTANCE instance) {
    const Platform& platform = NativePlatform();
    const std::string executablePath = platform.ExecutablePath();
    ApplicationWindow application(ApplicationTitle(executablePath));
    Win32Shell shell(application.Handle());
    application.SetOnClose([&shell] { shell.CloseMainWindow(); });

    // Before the control, the icon or the directories are touched: a second
    // copy of one installation only says so and ends.
    const SingleInstance thisDirectory;
    if (thisDirectory.AnotherIsRunning()) {
        shell.ShowInfoBox(kAlreadyRunning);
        return 0;
    }

    MainForm frmMain(shell, LoadIconA(instance, "MAINICON"),
                     BuiltInProtocol(platform, executablePath));
    auto settings = LoadServiceSettings(executablePath, platform, shell);
    if (const auto* failure = std::get_if<StartupFailure>(&settings)) {
        return failure->exitCode;
    }
    frmMain.Start(std::get<ServiceSettings>(settings), platform, UserDecimalSeparator(),
                  application.Handle());
    return RunEventLoop();
}

}  // namespace
}  // namespace vorlund

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace vorlund;
    const ComApartment runtime;
    try {
        return RunService(instance);
    } catch (const std::exception& error) {
        // The failed start-up's objects are gone by now: the box stands alone.
        ShowApplicationError(error, reinterpret_cast<const void*>(&RunService));
        return 0;
    }
}
