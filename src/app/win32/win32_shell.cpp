#include "app/win32/win32_shell.h"

#include <string>
#include <utility>

#include "app/win32/window_timer.h"

namespace vorlund {
namespace {

constexpr char kInfoCaption[] = "Info";
constexpr UINT kInfoStyle = 16;  // MB_OK | MB_ICONSTOP, nothing else

}  // namespace

Win32Shell::Win32Shell(HWND applicationWindow) : applicationWindow_(applicationWindow) {}

void Win32Shell::SetCloseMainWindow(std::function<void()> closeMainWindow) {
    closeMainWindow_ = std::move(closeMainWindow);
}

void Win32Shell::ShowInfoBox(std::string_view text) {
    const std::string terminated(text);
    MessageBoxA(applicationWindow_, terminated.c_str(), kInfoCaption, kInfoStyle);
}

std::unique_ptr<TickSource> Win32Shell::CreateTickSource(std::function<void()> onTick) {
    return std::make_unique<WindowTimer>(std::move(onTick));
}

void Win32Shell::Sleep(unsigned ms) {
    ::Sleep(ms);
}

void Win32Shell::CloseMainWindow() {
    if (closeMainWindow_) {
        closeMainWindow_();
    }
}

void Win32Shell::ShowFailureBox(std::string_view caption, std::string_view text) {
    ReleaseCapture();
    const std::string terminatedCaption(caption);
    const std::string terminatedText(text);
    MessageBoxA(applicationWindow_, terminatedText.c_str(), terminatedCaption.c_str(),
                MB_OK | MB_ICONSTOP);
}

}  // namespace vorlund
