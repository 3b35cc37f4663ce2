// RxTrayIcon1: the service's presence in the notification area. It owns a
// hidden top-level window (a message-only window would never hear the
// "TaskbarCreated" broadcast) that receives the icon's mouse notifications
// and the menu's choice, and registers icon 0 with no tooltip.
#pragma once

#include <windows.h>

#include "app/win32/native_window.h"
#include "app/win32/popup_menu.h"

namespace vorlund {

class TRxTrayIcon final : public NativeWindow {
  public:
    // The callback message of the icon's notifications.
    static constexpr UINT kNotifyMessage = WM_APP + 1;

    // Registers the icon at once: it is active and has a picture.
    TRxTrayIcon(HICON picture, const TPopupMenu& popupMenu);
    // Removes the icon from the notification area, then destroys the window.
    ~TRxTrayIcon() override;

    // The window that is told to cancel any mouse mode when the program has
    // no active window as the menu opens.
    void SetMainWindow(HWND mainWindow) { mainWindow_ = mainWindow; }

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Notify(UINT mouseMessage);
    void OpenPopupMenu(POINT at);
    bool Register(DWORD action);

    HICON picture_;
    const TPopupMenu& popupMenu_;
    HWND mainWindow_ = nullptr;
    UINT taskbarCreated_;
    bool leftPressed_ = false;
    bool rightPressed_ = false;
};

}  // namespace vorlund
