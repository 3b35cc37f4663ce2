#include "app/posix/serial_neto_ctl.h"

#include <utility>

namespace vorlund {

SerialNetoCtl::SerialNetoCtl(EventLoop& loop, DownloadSession& download, DownloadObserver& observer,
                             std::string serialDevice)
    : BuiltInNetoCtl(download, observer), loop_(loop), serialDevice_(std::move(serialDevice)) {}

SerialNetoCtl::~SerialNetoCtl() {
    StopRunning();
}

std::string SerialNetoCtl::DeviceFor(std::int32_t comPortIndex) {
    return "/dev/ttyS" + std::to_string(comPortIndex);
}

std::string SerialNetoCtl::DevicePath() const {
    if (!serialDevice_.empty()) {
        return serialDevice_;
    }
    return DeviceFor(COMport() - 1);
}

bool SerialNetoCtl::OpenLine(const LineSettings& settings) {
    port_ = SerialPort::Open(DevicePath(), settings);
    if (!port_.IsOpen()) {
        return false;
    }
    watch_ = loop_.Watch(port_.Descriptor(), POLLIN, [this](short revents) {
        LineReady((revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0,
                  (revents & POLLOUT) != 0);
    });
    return true;
}

void SerialNetoCtl::ReleaseLine() {
    watch_.Cancel();
    port_.Close();
}

SerialNetoCtl::Time SerialNetoCtl::Now() const {
    return std::chrono::duration_cast<Time>(EventLoop::Clock::now().time_since_epoch());
}

void SerialNetoCtl::Schedule(Timer timer, std::optional<Time> due) {
    EventLoop::Registration& slot = TimerSlot(timer);
    slot.Cancel();
    if (due) {
        const EventLoop::Clock::time_point at(
            std::chrono::duration_cast<EventLoop::Clock::duration>(*due));
        slot = loop_.ScheduleAt(at, [this, timer] { TimerDue(timer); });
    }
}

EventLoop::Registration& SerialNetoCtl::TimerSlot(Timer timer) {
    switch (timer) {
        case Timer::kDeadline:
            return deadline_;
        case Timer::kLineFailure:
            return pendingFailure_;
        case Timer::kLineSettled:
            break;
    }
    return settled_;
}

}  // namespace vorlund
