// The terminal-download control of the Linux service: BuiltInNetoCtl on a
// serial device, watched by the service's event loop.
#pragma once

#include <optional>
#include <string>

#include "app/built_in_neto_ctl.h"
#include "app/posix/event_loop.h"
#include "download/download_observer.h"
#include "download/download_session.h"
#include "platform/posix/serial_port.h"

namespace vorlund {

class SerialNetoCtl final : public BuiltInNetoCtl {
  public:
    // `serialDevice`: the device to open instead of /dev/ttyS<COMport - 1>;
    // empty for that.
    SerialNetoCtl(EventLoop& loop, DownloadSession& download, DownloadObserver& observer,
                  std::string serialDevice);
    ~SerialNetoCtl() override;

    std::string DevicePath() const override;
    // The line of COM-Port=`comPortIndex` (0 is /dev/ttyS0), for a service
    // without SerialDevice.
    static std::string DeviceFor(std::int32_t comPortIndex);

  private:
    bool SupportsBaudrate(std::int32_t baudrate) const override {
        return SerialPort::SupportsBaudrate(baudrate);
    }
    bool OpenLine(const LineSettings& settings) override;
    void ReleaseLine() override;
    bool LineIsOpen() const override { return port_.IsOpen(); }
    std::int64_t ReadLine(char* buffer, std::size_t size) override {
        return port_.Read(buffer, size);
    }
    std::int64_t WriteLine(std::string_view bytes) override { return port_.Write(bytes); }
    void WriteLastWords(std::string_view bytes) override { port_.Write(bytes); }
    std::string LineFailure() const override { return port_.Failure(); }
    void WatchWritable(bool watch) override { watch_.SetEvents(watch ? POLLIN | POLLOUT : POLLIN); }
    Time Now() const override;
    void Schedule(Timer timer, std::optional<Time> due) override;

    EventLoop::Registration& TimerSlot(Timer timer);

    EventLoop& loop_;
    const std::string serialDevice_;
    SerialPort port_;
    EventLoop::Registration watch_;
    EventLoop::Registration deadline_;
    EventLoop::Registration pendingFailure_;
    EventLoop::Registration settled_;
};

}  // namespace vorlund
