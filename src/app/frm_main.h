// The main window's logic, portable: its two timers, the control it hosts,
// and the download cycle that runs on them. The platform shell builds it
// after the settings are loaded, delivers the close command through
// OnCloseItemChosen, and runs its event loop until CloseMainWindow.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/event_boundary.h"
#include "app/shell.h"
#include "delivery/delivery_settler.h"
#include "download/neto_control.h"
#include "download/timer.h"
#include "platform/platform.h"
#include "settings/service_settings.h"

namespace vorlund {

class TfrmMain {
  public:
    // Captions failure boxes with the ApplicationTitle of the executable and
    // names SpoolDir to the control as the platform's wide form of the path.
    TfrmMain(Shell& shell, TNetoCtl& netoCtl, const ServiceSettings& settings,
             DeliverySettler& deliveries, const Platform& platform);
    // `rcvDir` is SpoolDir as the control is to be given it.
    TfrmMain(Shell& shell, TNetoCtl& netoCtl, const ServiceSettings& settings,
             DeliverySettler& deliveries, std::string applicationTitle, std::u16string rcvDir);
    ~TfrmMain();
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // The platform's entry for the user's choice of mnuVorlundClose: runs
    // mnuVorlundCloseClick inside the event boundary.
    void OnCloseItemChosen();

    // The handlers. Timer ticks and control events reach them through the
    // event boundary; they are public for the shells and the tests.
    void Timer1Timer();
    void Timer2Timer();
    void NetoCtl1ProtocolMessage(const ProtocolMessage& message);
    void mnuVorlundCloseClick();
    void CloseService();

    bool CloseRequested() const { return closeRequested_; }

  private:
    // Native ticks for the window's timers, each delivered through the boundary.
    TickSourceFactory TicksThroughBoundary();
    // Download("&&&&&&", SpoolDir, 1): the same request at start and restart.
    std::int16_t StartReception();
    void WriteConfiguration();
    // Shows what became of a delivery when its conversion failed.
    void ShowSettlement(const Settlement& settlement);

    Shell& shell_;
    const ServiceSettings settings_;
    const std::u16string rcvDir_;
    DeliverySettler& deliveries_;
    EventBoundary boundary_;
    bool closeRequested_ = false;

  public:
    // The window's parts, declared after the boundary their events go through.
    TNetoCtl& NetoCtl1;
    TTimer Timer1;  // 100 ms, armed at creation: the first start
    TTimer Timer2;  // 300 ms, disarmed: restart or close
};

}  // namespace vorlund
