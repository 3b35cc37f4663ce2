#include "app/win32/main_form.h"

#include <cstdint>
#include <stdexcept>

#include "app/application_title.h"

namespace vorlund {
namespace {

// The largest file a transfer may bring: the receivers' own bound, which
// also bounds the disk a delivery takes and its conversion's memory.
constexpr std::uint64_t kLargestDelivery = kLargestTransfer;

}  // namespace

MainForm::MainForm(Win32Shell& shell, HICON picture, std::optional<ProtocolChoice> builtIn)
    : shell_(shell),
      builtIn_(builtIn),
      netoHost_(builtIn ? nullptr : std::make_unique<NetoControlHost>()),
      popupMenu_(std::make_unique<TPopupMenu>()),
      trayIcon_(std::make_unique<TRxTrayIcon>(picture, *popupMenu_)),
      netoCtl1_(netoHost_.get()) {}

void MainForm::Start(const ServiceSettings& settings, const Platform& platform,
                     char decimalSeparator, HWND applicationWindow) {
    // Vorlund's own control writes X.DAT itself, through the hand-off; the
    // terminal control writes it by its own means.
    Result<std::unique_ptr<DeliveryHandOff>> deliveries = DeliveryHandOff::Open(
        settings, platform, decimalSeparator, NoDeliveryObserver(),
        builtIn_ ? DeliveryHandOff::Writer::kHandOff : DeliveryHandOff::Writer::kControl);
    if (!deliveries) {
        throw std::runtime_error(deliveries.reason());
    }
    deliveries_ = std::move(*deliveries);
    if (builtIn_) {
        StartBuiltIn(settings, platform);
    }
    logic_ = std::make_unique<TfrmMain>(shell_, *netoCtl1_, settings, *deliveries_, platform);
    popupMenu_->SetOnVorlundCloseClick([this] { logic_->OnCloseItemChosen(); });
    window_ = std::make_unique<MainWindow>(applicationWindow);
    trayIcon_->SetMainWindow(window_->Handle());
    shell_.SetCloseMainWindow([this] { window_->Close(); });
}

void MainForm::StartBuiltIn(const ServiceSettings& settings, const Platform& platform) {
    // Transfers cut off, kept for their senders to continue; their age runs
    // on the control's monotonic clock.
    partials_ = std::make_unique<PartialDeliveries>(platform, settings.SpoolDir,
                                                    ComPortNetoCtl::MonotonicNow());
    // This run's mark, and whether the run before ended without its close.
    running_ = std::make_unique<RunMarker>(platform, settings.SpoolDir);
    download_ = std::make_unique<DownloadSession>(*deliveries_, quiet_, kLargestDelivery,
                                                  partials_.get(), *builtIn_);
    if (running_->PreviousRunCutShort()) {
        download_->AfterRunCutShort();
    }
    controlEvents_ =
        std::make_unique<EventBoundary>(shell_, ApplicationTitle(platform.ExecutablePath()));
    comPort_ = std::make_unique<ComPortNetoCtl>(*controlEvents_, *download_, quiet_);
    netoCtl1_ = comPort_.get();
}

MainForm::~MainForm() {
    shell_.SetCloseMainWindow(nullptr);
    window_.reset();
    // A control that CloseService has not detached is still a child of the
    // window and goes before the window's own parts; a detached one last.
    if (netoHost_ && netoHost_->Attached()) {
        netoHost_->Destroy();
    }
    popupMenu_.reset();  // mnuVorlundClose, PopupMenu1
    trayIcon_.reset();   // the icon leaves the notification area
    logic_.reset();      // Timer2, Timer1
    // Vorlund's own control has no window to be detached from: it lets its
    // port go (cancelling a transfer under way) once nothing can call it.
    comPort_.reset();
    download_.reset();
    running_.reset();
    partials_.reset();
    deliveries_.reset();
    if (netoHost_) {
        netoHost_->Destroy();
    }
}

}  // namespace vorlund
