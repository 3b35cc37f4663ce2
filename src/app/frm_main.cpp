#include "app/frm_main.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <utility>

#include "app/application_title.h"
#include "common/cp1252.h"

namespace vorlund {
namespace {

constexpr unsigned kTimer1Interval = 100;
constexpr unsigned kTimer2Interval = 300;
constexpr unsigned kCloseWait = 1000;

constexpr char16_t kDownloadId[] = u"&&&&&&";
constexpr std::int32_t kDownType = 1;

constexpr char kCannotStartProtocol[] = "Kunde inte starta protokoll";
constexpr char kCannotOpenComPort[] =
    "Kunde inte \xF6ppna COM-port. Kontrollera att ingen annan applikation anv\xE4nder porten.";
constexpr char kCannotCreateExport[] = "Fel vid skapande av destinationsfil!";
// The first sentence stays as it is; the second says that this time the
// delivery is in danger, and what comes of it: the control replaces it with
// its next delivery, where it writes X.DAT itself; a service that receives
// the transfers itself refuses the next one instead.
constexpr char kCannotCreateExportNorKeep[] =
    "Fel vid skapande av destinationsfil! Leveransen kunde inte heller sparas undan: den finns "
    "bara i X.DAT och ers\xE4tts av n\xE4sta.";
constexpr char kCannotCreateExportNorKeepNextRefused[] =
    "Fel vid skapande av destinationsfil! Leveransen kunde inte heller sparas undan: den finns "
    "bara i X.DAT, och n\xE4sta \xF6verf\xF6ring nekas tills den har exporterats eller sparats "
    "undan.";
constexpr char kCannotRestart[] = "Kunde ej \xE5terstarta NetO. Applikationen avslutas";

}  // namespace

TfrmMain::TfrmMain(Shell& shell, TNetoCtl& netoCtl, const ServiceSettings& settings,
                   DeliverySettler& deliveries, const Platform& platform)
    : TfrmMain(shell, netoCtl, settings, deliveries, ApplicationTitle(platform.ExecutablePath()),
               platform.WidePath(settings.SpoolDir)) {}

TfrmMain::TfrmMain(Shell& shell, TNetoCtl& netoCtl, const ServiceSettings& settings,
                   DeliverySettler& deliveries, std::string applicationTitle,
                   std::u16string rcvDir)
    : shell_(shell),
      settings_(settings),
      rcvDir_(std::move(rcvDir)),
      deliveries_(deliveries),
      boundary_(shell, std::move(applicationTitle)),
      NetoCtl1(netoCtl),
      Timer1(TicksThroughBoundary()),
      Timer2(TicksThroughBoundary()) {
    NetoCtl1.SetOnProtocolMessage([this](const ProtocolMessage& message) {
        boundary_.Deliver([&] { NetoCtl1ProtocolMessage(message); });
    });
    // Timer1 starts counting here, while the window is still being built.
    Timer1.SetInterval(kTimer1Interval);
    Timer1.SetOnTimer([this] { Timer1Timer(); });
    Timer1.SetEnabled(true);
    Timer2.SetInterval(kTimer2Interval);
    Timer2.SetOnTimer([this] { Timer2Timer(); });
}

TfrmMain::~TfrmMain() {
    NetoCtl1.SetOnProtocolMessage(nullptr);
}

void TfrmMain::OnCloseItemChosen() {
    boundary_.Deliver([this] { mnuVorlundCloseClick(); });
}

void TfrmMain::Timer1Timer() {
    Timer1.SetEnabled(false);
    // A delivery that a crash or power cut left unconverted goes first, so
    // that the first reception cannot turn the next one away for it.
    if (const std::optional<Settlement> leftOver = deliveries_.SettleLeftOver()) {
        ShowSettlement(*leftOver);
    }
    WriteConfiguration();
    if (StartReception() < 0) {
        shell_.ShowInfoBox(kCannotStartProtocol);
        CloseService();
    }
}

void TfrmMain::Timer2Timer() {
    Timer2.SetEnabled(false);
    if (NetoCtl1.IsProtocolRunning() != 0) {
        NetoCtl1.StopRunning();
    }
    if (closeRequested_) {
        CloseService();
        return;
    }
    if (StartReception() < 0) {
        shell_.ShowInfoBox(kCannotRestart);
        CloseService();
    }
}

void TfrmMain::NetoCtl1ProtocolMessage(const ProtocolMessage& message) {
    switch (message.msgCode) {
        case kComPortCannotBeOpened:
            // The control's own message says which port and why, where it
            // says anything; the cycle tries again after every report.
            shell_.ShowInfoBoxWithDetail(kCannotOpenComPort, Utf16ToCp1252(message.strMessage),
                                         Recurrence::kRetried);
            Timer2.SetEnabled(true);
            break;
        case kFileReceived: {
            Settlement settlement;
            try {
                settlement = deliveries_.SettleArrival();
            } catch (const std::exception& error) {
                // Whatever became of it, the restart must follow, or the
                // service would sit idle with no reception.
                settlement = {Settlement::Kind::kNotKept, "E", {}, {}, error.what(), 0, 0};
            }
            ShowSettlement(settlement);
            Timer2.SetEnabled(true);
            break;
        }
        default:
            break;
    }
}

void TfrmMain::mnuVorlundCloseClick() {
    closeRequested_ = true;
    Timer2.SetEnabled(true);
}

void TfrmMain::CloseService() {
    NetoCtl1.CloseControl();
    shell_.Sleep(kCloseWait);
    shell_.CloseMainWindow();
}

TickSourceFactory TfrmMain::TicksThroughBoundary() {
    return [this](std::function<void()> onTick) {
        return shell_.CreateTickSource(
            [this, onTick = std::move(onTick)] { boundary_.Deliver(onTick); });
    };
}

std::int16_t TfrmMain::StartReception() {
    return NetoCtl1.Download(kDownloadId, rcvDir_, kDownType);
}

void TfrmMain::WriteConfiguration() {
    // The index is any integer the settings file held; it wraps into the
    // property's 16 bits without overflowing on the way.
    NetoCtl1.SetCOMport(static_cast<std::int16_t>(
        static_cast<std::uint16_t>(static_cast<std::uint16_t>(settings_.ComPortIndex) + 1U)));
    NetoCtl1.SetBaudrate(BaudRateFromIndex(settings_.BaudRateIndex));
    NetoCtl1.SetParity(0);
    NetoCtl1.SetByteSize(8);
    NetoCtl1.SetStopBits(0);
    NetoCtl1.SetPollSpeed(250);
    NetoCtl1.SetPollTimeout(-1);
    // The configuration has always been written in this order, IrDADevice (9)
    // before RxTxDelay (8); the component sees the same sequence every time.
    NetoCtl1.SetIrDADevice(0);
    NetoCtl1.SetRxTxDelay(1);
}

void TfrmMain::ShowSettlement(const Settlement& settlement) {
    switch (settlement.kind) {
        case Settlement::Kind::kExported:
            return;
        case Settlement::Kind::kKept:
        case Settlement::Kind::kNothingToKeep:
            shell_.ShowInfoBoxWithDetail(kCannotCreateExport, settlement.detail);
            return;
        case Settlement::Kind::kNotKept:
            shell_.ShowInfoBoxWithDetail(deliveries_.RefusesNextWhileUnsettled()
                                             ? kCannotCreateExportNorKeepNextRefused
                                             : kCannotCreateExportNorKeep,
                                         settlement.detail);
            return;
    }
}

}  // namespace vorlund
