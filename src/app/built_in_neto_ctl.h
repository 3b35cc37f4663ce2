// The terminal-download control that Vorlund brings itself, on either
// system: a serial line and the loop around DownloadSession, which holds the
// rules. It keeps the control's contract: Download answers 0 and opens the
// line; a line that cannot be opened, or fails, is reported as code 30 from
// the loop just after, with the device and the system's reason as its
// message; a delivery stored as X.DAT raises code 1000 at once; the protocol
// runs while the line is open.
//
// Each system adds what only it knows: its serial port and its event loop
// (SerialNetoCtl on Linux, ComPortNetoCtl on Windows). Both call the port as
// a non-blocking one on its loop's word that it may have something to read
// or room to write, and both stop the protocol in their destructors, where
// the port is still theirs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/download_observer.h"
#include "download/download_session.h"
#include "download/neto_control.h"
#include "platform/line_settings.h"

namespace vorlund {

class BuiltInNetoCtl : public TNetoCtl {
  public:
    // How long a line must stay open before its failure counts as over: a
    // device that opens and fails at once is one failure, not many.
    static constexpr std::chrono::milliseconds kLineSettled{1000};

    BuiltInNetoCtl(const BuiltInNetoCtl&) = delete;
    BuiltInNetoCtl& operator=(const BuiltInNetoCtl&) = delete;

    // The device Download opens, as messages name it.
    virtual std::string DevicePath() const = 0;
    // The failure reported last came from a line that was open (it hung up,
    // its adapter was pulled out), not from one that would not open: the
    // control's code 30 says only the latter.
    bool LineWasLost() const { return lost_; }

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
    std::int16_t IsProtocolRunning() override { return LineIsOpen() ? 1 : 0; }
    // There is no window to detach from; the line stays as it is until
    // StopRunning or destruction.
    void CloseControl() override {}

  protected:
    using Time = DownloadSession::Time;
    // What the system's loop keeps for the control, one of each at a time.
    enum class Timer {
        kDeadline,     // the session's next deadline
        kLineFailure,  // code 30, raised from the loop just after the failure
        kLineSettled,  // the line has stayed open for kLineSettled
    };

    BuiltInNetoCtl(DownloadSession& download, DownloadObserver& observer)
        : download_(download), observer_(observer) {}
    ~BuiltInNetoCtl() override = default;

    std::int16_t COMport() const { return comPort_; }

    // The system's loop says that the open line may have bytes to read (or
    // has hung up), or room to write.
    void LineReady(bool readable, bool writable);
    void TimerDue(Timer timer);

  private:
    // What each system provides: its port...
    virtual bool SupportsBaudrate(std::int32_t baudrate) const = 0;
    // Opens DevicePath with `settings` and watches it; false, with
    // LineFailure saying why, when it cannot.
    virtual bool OpenLine(const LineSettings& settings) = 0;
    // Gives the port up; nothing of it is watched any more.
    virtual void ReleaseLine() = 0;
    virtual bool LineIsOpen() const = 0;
    // As a non-blocking port: bytes read, 0 when nothing is waiting, -1 when
    // the line has failed or hung up.
    virtual std::int64_t ReadLine(char* buffer, std::size_t size) = 0;
    // Bytes the line took (0 when it cannot take more now), -1 on failure.
    virtual std::int64_t WriteLine(std::string_view bytes) = 0;
    // What the sender is told as the line closes (a cancel): as much of it
    // as the line can carry before it goes.
    virtual void WriteLastWords(std::string_view bytes) = 0;
    // Why the open, or the latest read or write, failed.
    virtual std::string LineFailure() const = 0;
    // Whether LineReady is also wanted when the line has room to write.
    virtual void WatchWritable(bool watch) = 0;
    // ...and its loop: the monotonic time, and the timers, each replaced by
    // the next Schedule of it (none cancels it; a time already past runs on
    // the next turn, after the current callback).
    virtual Time Now() const = 0;
    virtual void Schedule(Timer timer, std::optional<Time> due) = 0;

    // Writes the answers, re-arms the deadline and raises an arrival. Runs
    // after every read and every deadline.
    void Service();
    // Writes what is waiting for the line; false when the line has failed.
    bool Flush();
    // The line cannot be opened, or failed while open (`lost`): code 30
    // from the loop, with the port's failure as its message.
    void ReportLineFailure(bool lost);
    void CloseLine();

    DownloadSession& download_;
    DownloadObserver& observer_;
    std::int16_t comPort_ = 1;
    LineSettings line_;
    std::string unsent_;
    bool failurePending_ = false;
    std::u16string failure_;
    bool lost_ = false;
};

}  // namespace vorlund
