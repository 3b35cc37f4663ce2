// The desktop services of the main window's logic on Windows: message boxes
// owned by the application's window, window timers, the blocking wait and
// the close of the main window.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string_view>

#include "app/shell.h"

namespace vorlund {

class Win32Shell final : public Shell {
  public:
    explicit Win32Shell(HWND applicationWindow);

    // Bound once the main window exists; before that a close request has
    // nothing to close and is dropped.
    void SetCloseMainWindow(std::function<void()> closeMainWindow);

    void ShowInfoBox(std::string_view text) override;
    std::unique_ptr<TickSource> CreateTickSource(std::function<void()> onTick) override;
    void Sleep(unsigned ms) override;
    void CloseMainWindow() override;
    void ShowFailureBox(std::string_view caption, std::string_view text) override;

  private:
    HWND applicationWindow_;
    std::function<void()> closeMainWindow_;
};

}  // namespace vorlund
