#include "app/win32/main_form.h"

#include <stdexcept>

namespace vorlund {

MainForm::MainForm(Win32Shell& shell, HICON picture)
    : shell_(shell),
      netoCtl_(std::make_unique<NetoControlHost>()),
      popupMenu_(std::make_unique<TPopupMenu>()),
      trayIcon_(std::make_unique<TRxTrayIcon>(picture, *popupMenu_)) {}

void MainForm::Start(const ServiceSettings& settings, const Platform& platform,
                     char decimalSeparator, HWND applicationWindow) {
    Result<std::unique_ptr<DeliveryHandOff>> deliveries =
        DeliveryHandOff::Open(settings, platform, decimalSeparator, NoDeliveryObserver());
    if (!deliveries) {
        throw std::runtime_error(deliveries.reason());
    }
    deliveries_ = std::move(*deliveries);
    logic_ = std::make_unique<TfrmMain>(shell_, *netoCtl_, settings, *deliveries_, platform);
    popupMenu_->SetOnVorlundCloseClick([this] { logic_->OnCloseItemChosen(); });
    window_ = std::make_unique<MainWindow>(applicationWindow);
    trayIcon_->SetMainWindow(window_->Handle());
    shell_.SetCloseMainWindow([this] { window_->Close(); });
}

MainForm::~MainForm() {
    shell_.SetCloseMainWindow(nullptr);
    window_.reset();
    // A control that CloseService has not detached is still a child of the
    // window and goes before the window's own parts; a detached one last.
    if (netoCtl_->Attached()) {
        netoCtl_->Destroy();
    }
    popupMenu_.reset();  // mnuVorlundClose, PopupMenu1
    trayIcon_.reset();   // the icon leaves the notification area
    logic_.reset();      // Timer2, Timer1
    deliveries_.reset();
    netoCtl_->Destroy();
}

}  // namespace vorlund
