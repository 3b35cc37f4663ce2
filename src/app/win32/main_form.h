// frmMain on Windows: NetoCtl1, the tray icon with its menu, the window's
// logic with its two timers, and the native window, created in the order of
// the window's definition and destroyed in the order of the teardown, which
// depends on whether the control was detached.
//
// NetoCtl1 is the terminal control, hosted; or, where Vorlund.ini names a
// Protocol, Vorlund's own control on the COM port, which receives with the
// same download session, receivers, hand-off and ledger as the Linux
// service. That one is made once the settings are read, since it writes
// X.DAT through the hand-off.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "app/event_boundary.h"
#include "app/frm_main.h"
#include "app/run_marker.h"
#include "app/win32/com_port_neto_ctl.h"
#include "app/win32/main_window.h"
#include "app/win32/neto_control_host.h"
#include "app/win32/popup_menu.h"
#include "app/win32/tray_icon.h"
#include "app/win32/win32_shell.h"
#include "delivery/delivery_hand_off.h"
#include "delivery/partial_deliveries.h"
#include "download/download_observer.h"
#include "download/download_session.h"
#include "platform/platform.h"
#include "settings/protocol_setting.h"
#include "settings/service_settings.h"

namespace vorlund {

class MainForm {
  public:
    // Creates NetoCtl1 (the terminal control, unless `builtIn` names the
    // protocols of Vorlund's own), PopupMenu1 and RxTrayIcon1, which
    // registers its icon before the settings are read. Throws when the
    // terminal control cannot be made.
    MainForm(Win32Shell& shell, HICON picture, std::optional<ProtocolChoice> builtIn);
    ~MainForm();
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // Once the settings are loaded: the deliveries' ledger, with whatever a
    // crash or power cut left behind finished, Vorlund's own control if it
    // is the one, the window's logic (Timer1 counts from here) and the
    // hidden native window, which becomes the main window. Throws when the
    // ledger cannot be opened.
    void Start(const ServiceSettings& settings, const Platform& platform, char decimalSeparator,
               HWND applicationWindow);

  private:
    void StartBuiltIn(const ServiceSettings& settings, const Platform& platform);

    Win32Shell& shell_;
    const std::optional<ProtocolChoice> builtIn_;
    std::unique_ptr<NetoControlHost> netoHost_;
    std::unique_ptr<TPopupMenu> popupMenu_;
    std::unique_ptr<TRxTrayIcon> trayIcon_;
    std::unique_ptr<DeliveryHandOff> deliveries_;
    // Vorlund's own control and what it receives with.
    DownloadObserver quiet_;
    std::unique_ptr<PartialDeliveries> partials_;
    std::unique_ptr<RunMarker> running_;
    std::unique_ptr<DownloadSession> download_;
    std::unique_ptr<EventBoundary> controlEvents_;
    std::unique_ptr<ComPortNetoCtl> comPort_;
    TNetoCtl* netoCtl1_ = nullptr;
    std::unique_ptr<TfrmMain> logic_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace vorlund
