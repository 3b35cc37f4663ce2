#include "app/frm_main.h"

#include <cstdint>
#include <utility>

#include "app/application_title.h"
#include "conversion/convert_received_file.h"

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
// delivery is in danger.
constexpr char kCannotCreateExportNorKeep[] =
    "Fel vid skapande av destinationsfil! Leveransen kunde inte heller sparas undan: den finns "
    "bara i X.DAT och ers\xE4tts av n\xE4sta.";
constexpr char kCannotRestart[] = "Kunde ej \xE5terstarta NetO. Applikationen avslutas";

}  // namespace

TfrmMain::TfrmMain(Shell& shell, TNetoCtl& netoCtl, const ServiceSettings& settings,
                   const Platform& platform, char decimalSeparator)
    : TfrmMain(
          shell, netoCtl, settings,
          [this, &platform, decimalSeparator] {
              return ConvertReceivedFile(settings_, platform, decimalSeparator);
          },
          ApplicationTitle(platform.ExecutablePath()), platform.WidePath(settings.SpoolDir),
          [this, &platform](std::string_view reason) {
              return KeepFailedDelivery(settings_, platform, reason);
          }) {}

TfrmMain::TfrmMain(Shell& shell, TNetoCtl& netoCtl, const ServiceSettings& settings,
                   ReceivedFileConverter convert, std::string applicationTitle,
                   std::u16string rcvDir, FailedDeliveryKeeper keep)
    : shell_(shell),
      settings_(settings),
      rcvDir_(std::move(rcvDir)),
      convert_(std::move(convert)),
      keep_(std::move(keep)),
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
            shell_.ShowInfoBox(kCannotOpenComPort);
            Timer2.SetEnabled(true);
            break;
        case kFileReceived:
            if (const std::string failure = ConversionFailure(); !failure.empty()) {
                // Kept before the box: the next delivery replaces X.DAT.
                shell_.ShowInfoBox(Kept(failure) ? kCannotCreateExport
                                                 : kCannotCreateExportNorKeep);
            }
            Timer2.SetEnabled(true);
            break;
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

std::string TfrmMain::ConversionFailure() {
    try {
        const ConversionResult result = convert_();
        return result == kConverted ? std::string() : std::to_string(result);
    } catch (...) {
        return "E";
    }
}

bool TfrmMain::Kept(std::string_view reason) {
    try {
        return !keep_ || keep_(reason) != KeepResult::kNotKept;
    } catch (...) {
        return false;
    }
}

}  // namespace vorlund
