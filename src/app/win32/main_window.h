// The native window of frmMain: hidden for its whole life. Closing it only
// asks the event loop to end; the window itself is destroyed in the teardown.
#pragma once

#include "app/win32/native_window.h"

namespace vorlund {

class MainWindow final : public NativeWindow {
  public:
    explicit MainWindow(HWND applicationWindow);

    // What a close request from the system does, and the close of CloseService.
    void Close();

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

}  // namespace vorlund
