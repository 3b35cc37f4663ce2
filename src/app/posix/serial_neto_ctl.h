// The terminal-download control of the Linux service: it receives a
// terminal's file over a serial line with YMODEM, driven by the event loop
// (non-blocking descriptor, no threads), and keeps the control's contract:
// Download answers 0 and opens the line; a line that cannot be opened is
// reported as code 30 from the loop just after; a received file is written
// as X.DAT into RcvDir, then code 1000 is raised at once; the protocol runs
// while the line is open.
//
// One file per Download. Once it is in, the line stays open but takes no
// further file until StopRunning and the next Download: the sender of a
// batch of several files repeats the next header then, so each file of the
// batch arrives, is converted and is followed by the restart in turn. A
// transfer that fails or is aborted writes nothing and raises nothing; the
// line then waits for the next transfer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/posix/event_loop.h"
#include "app/posix/journal.h"
#include "download/neto_control.h"
#include "download/ymodem_receiver.h"
#include "platform/posix/serial_port.h"

namespace vorlund {

class SerialNetoCtl final : public TNetoCtl {
  public:
    // A line that cannot be opened, or fails, leaves the device and the
    // system's reason as the journal's pending detail for the message that
    // code 30 brings; once the line has stayed open for kLineSettled, the
    // journal hears that the failure is over.
    SerialNetoCtl(EventLoop& loop, Journal& journal);
    ~SerialNetoCtl() override;
    SerialNetoCtl(const SerialNetoCtl&) = delete;
    SerialNetoCtl& operator=(const SerialNetoCtl&) = delete;

    // The device to open instead of /dev/ttyS<COMport - 1>; empty for that.
    void SetSerialDevice(std::string path) { serialDevice_ = std::move(path); }
    std::string DevicePath() const;

    // The line settings are taken at the next Download. A value the line
    // cannot take is refused with ControlError.
    void SetCOMport(std::int16_t value) override { comPort_ = value; }
    void SetBaudrate(std::int32_t value) override;
    void SetParity(std::int16_t value) override;    // 0 none, 1 odd, 2 even
    void SetByteSize(std::int16_t value) override;  // 5 to 8
    void SetStopBits(std::int16_t value) override;  // 0 one, 2 two
    // Meaningful only to the terminals' own protocol: kept, not used.
    void SetPollSpeed(std::int32_t) override {}
    void SetPollTimeout(std::int32_t) override {}
    void SetRxTxDelay(std::int32_t) override {}
    void SetIrDADevice(std::int32_t) override {}

    std::int16_t Download(const std::u16string& id, const std::u16string& RcvDir,
                          std::int32_t downType) override;
    // Called at the end of every Download, the line open or its failure on
    // the way.
    void SetOnDownload(std::function<void()> handler) { onDownload_ = std::move(handler); }

    // The file behind the latest code 1000.
    struct Arrival {
        std::uint64_t bytes = 0;
        // When its header arrived.
        EventLoop::Clock::time_point started{};
    };
    const Arrival& LastArrival() const { return lastArrival_; }

    // How long a line must stay open before its failure counts as over: a
    // device that opens and fails at once is one failure, not many.
    static constexpr std::chrono::milliseconds kLineSettled{1000};
    void StopRunning() override;
    std::int16_t IsProtocolRunning() override { return port_.IsOpen() ? 1 : 0; }
    // There is no window to detach from; the line stays as it is until
    // StopRunning or destruction.
    void CloseControl() override {}

  private:
    void OnLineReady(short revents);
    // Feeds the receiver, writes its answers, re-arms its deadline and acts
    // on a finished transfer. Runs after every read and every deadline.
    void Service();
    // Writes what the receiver has to say; false when the line has failed.
    bool Flush();
    void ArmDeadline();
    // Writes X.DAT whole or not at all.
    bool StoreReceivedFile(std::string_view data) const;
    // The line failed or cannot be opened: code 30 from the loop, with the
    // port's failure as the message's detail.
    void ReportLineFailure();
    void CloseLine();
    void RaiseCode(std::int16_t code);
    YmodemReceiver::Time Now() const;

    EventLoop& loop_;
    Journal& journal_;
    std::function<void()> onDownload_;
    Arrival lastArrival_;
    std::optional<EventLoop::Clock::time_point> transferStarted_;
    std::string serialDevice_;
    std::int16_t comPort_ = 1;
    LineSettings line_;

    std::string rcvDir_;
    // Changes whenever the line is closed, so a caller can tell that a
    // handler it called has stopped or restarted the protocol.
    std::uint64_t session_ = 0;
    SerialPort port_;
    std::unique_ptr<YmodemReceiver> receiver_;
    std::string unsent_;
    std::optional<EventLoop::Id> watch_;
    std::optional<EventLoop::Id> deadline_;
    std::optional<EventLoop::Id> pendingFailure_;
    std::optional<EventLoop::Id> settled_;
};

}  // namespace vorlund
