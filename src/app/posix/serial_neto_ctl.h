// The terminal-download control of the Linux service: the serial line and
// the event loop around DownloadSession, which holds the rules. It keeps the
// control's contract: Download answers 0 and opens the line; a line that
// cannot be opened, or fails, is reported as code 30 from the loop just
// after, with the device and the system's reason as its message; a delivery
// stored as X.DAT raises code 1000 at once; the protocol runs while the line
// is open.
#pragma once

#include <cstdint>
#include <string>

#include "app/posix/event_loop.h"
#include "download/download_observer.h"
#include "download/neto_control.h"
#include "download/download_session.h"
#include "platform/posix/serial_port.h"

namespace vorlund {

class SerialNetoCtl final : public TNetoCtl {
  public:
    // How long a line must stay open before its failure counts as over: a
    // device that opens and fails at once is one failure, not many.
    static constexpr std::chrono::milliseconds kLineSettled{1000};

    // `serialDevice`: the device to open instead of /dev/ttyS<COMport - 1>;
    // empty for that.
    SerialNetoCtl(EventLoop& loop, DownloadSession& download, DownloadObserver& observer,
                  std::string serialDevice);
    ~SerialNetoCtl() override;
    SerialNetoCtl(const SerialNetoCtl&) = delete;
    SerialNetoCtl& operator=(const SerialNetoCtl&) = delete;

    std::string DevicePath() const;
    // The failure reported last came from a line that was open (it hung up,
    // its adapter was pulled out), not from one that would not open: the
    // control's code 30 says only the latter.
    bool LineWasLost() const { return lost_; }
    // The line of COM-Port=`comPortIndex` (0 is /dev/ttyS0), for a service
    // without SerialDevice.
    static std::string DeviceFor(std::int32_t comPortIndex);

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

    // RcvDir is the spool directory the hand-off was opened on; the files go
    // there whatever the call names.
    std::int16_t Download(const std::u16string& id, const std::u16string& RcvDir,
                          std::int32_t downType) override;
    void StopRunning() override;
    std::int16_t IsProtocolRunning() override { return port_.IsOpen() ? 1 : 0; }
    // There is no window to detach from; the line stays as it is until
    // StopRunning or destruction.
    void CloseControl() override {}

  private:
    void OnLineReady(short revents);
    // Writes the answers, re-arms the deadline and raises an arrival. Runs
    // after every read and every deadline.
    void Service();
    // Writes what is waiting for the line; false when the line has failed.
    bool Flush();
    void ArmDeadline();
    // The line cannot be opened, or failed while open (`lost`): code 30
    // from the loop, with the port's failure as its message.
    void ReportLineFailure(bool lost);
    void CloseLine();
    DownloadSession::Time Now() const;

    EventLoop& loop_;
    DownloadSession& download_;
    DownloadObserver& observer_;
    const std::string serialDevice_;
    std::int16_t comPort_ = 1;
    LineSettings line_;

    SerialPort port_;
    std::string unsent_;
    EventLoop::Registration watch_;
    EventLoop::Registration deadline_;
    EventLoop::Registration pendingFailure_;
    EventLoop::Registration settled_;
    std::u16string failure_;
    bool lost_ = false;
};

}  // namespace vorlund
