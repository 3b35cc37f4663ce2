// The application's own hidden top-level window, made before the main window
// and never shown. It owns the message boxes, carries the application title,
// and turns a close request sent to it into closing the main window.
#pragma once

#include <functional>
#include <string>

#include "app/win32/native_window.h"

namespace vorlund {

class ApplicationWindow final : public NativeWindow {
  public:
    explicit ApplicationWindow(const std::string& title);

    // What a close request sent to this window does: close the main window.
    void SetOnClose(std::function<void()> onClose);

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    std::function<void()> onClose_;
};

}  // namespace vorlund
