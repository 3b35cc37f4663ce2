// frmMain on Windows: the hosted control, the tray icon with its menu, the
// window's logic with its two timers, and the native window, created in the
// order of the window's definition and destroyed in the order of the
// teardown, which depends on whether the control was detached.
#pragma once

#include <windows.h>

#include <memory>

#include "app/frm_main.h"
#include "delivery/delivery_hand_off.h"
#include "app/win32/main_window.h"
#include "app/win32/neto_control_host.h"
#include "app/win32/popup_menu.h"
#include "app/win32/tray_icon.h"
#include "app/win32/win32_shell.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

class MainForm {
  public:
    // Creates NetoCtl1, PopupMenu1 and RxTrayIcon1, which registers its icon
    // before the settings are read. Throws when the control cannot be made.
    MainForm(Win32Shell& shell, HICON picture);
    ~MainForm();
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // Once the settings are loaded: the deliveries' ledger, with whatever a
    // crash or power cut left behind finished, the window's logic (Timer1
    // counts from here) and the hidden native window, which becomes the main
    // window. Throws when the ledger cannot be opened.
    void Start(const ServiceSettings& settings, const Platform& platform, char decimalSeparator,
               HWND applicationWindow);

  private:
    Win32Shell& shell_;
    std::unique_ptr<NetoControlHost> netoCtl_;
    std::unique_ptr<TPopupMenu> popupMenu_;
    std::unique_ptr<TRxTrayIcon> trayIcon_;
    std::unique_ptr<DeliveryHandOff> deliveries_;
    std::unique_ptr<TfrmMain> logic_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace vorlund
