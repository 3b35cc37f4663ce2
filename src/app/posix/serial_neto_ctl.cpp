#include "app/posix/serial_neto_ctl.h"

#include <utility>

#include "common/cp1252.h"

namespace vorlund {
namespace {

// A healthy transfer never has more than a few answers waiting.
constexpr std::size_t kMostUnsent = 1024;

}  // namespace

SerialNetoCtl::SerialNetoCtl(EventLoop& loop, DownloadSession& download, DownloadObserver& observer,
                             std::string serialDevice)
    : loop_(loop), download_(download), observer_(observer), serialDevice_(std::move(serialDevice)) {}

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
    return "/dev/ttyS" + std::to_string(comPort_ - 1);
}

void SerialNetoCtl::SetBaudrate(std::int32_t value) {
    if (!SerialPort::SupportsBaudrate(value)) {
        throw ControlError("The serial line cannot run at " + std::to_string(value) + " baud");
    }
    line_.baudrate = value;
}

void SerialNetoCtl::SetParity(std::int16_t value) {
    switch (value) {
        case 0:
            line_.parity = Parity::kNone;
            break;
        case 1:
            line_.parity = Parity::kOdd;
            break;
        case 2:
            line_.parity = Parity::kEven;
            break;
        default:
            throw ControlError("Parity " + std::to_string(value) + " is not supported");
    }
}

void SerialNetoCtl::SetByteSize(std::int16_t value) {
    if (value < 5 || value > 8) {
        throw ControlError("A byte size of " + std::to_string(value) + " bits is not supported");
    }
    line_.dataBits = value;
}

void SerialNetoCtl::SetStopBits(std::int16_t value) {
    if (value != 0 && value != 2) {
        throw ControlError("Stop bits " + std::to_string(value) + " are not supported");
    }
    line_.twoStopBits = value == 2;
}

std::int16_t SerialNetoCtl::Download(const std::u16string& /*id*/,
                                     const std::u16string& /*RcvDir*/, std::int32_t /*downType*/) {
    // A Download while the protocol runs starts it afresh.
    StopRunning();
    port_ = SerialPort::Open(DevicePath(), line_);
    if (!port_.IsOpen()) {
        ReportLineFailure(false);
    } else {
        watch_ = loop_.Watch(port_.Descriptor(), POLLIN,
                             [this](short revents) { OnLineReady(revents); });
        download_.Start(Now());
        settled_ = loop_.ScheduleAt(EventLoop::Clock::now() + kLineSettled,
                                    [this] { observer_.LineBack(DevicePath()); });
        Service();
    }
    observer_.ReceptionStarted();
    return 0;
}

void SerialNetoCtl::StopRunning() {
    // A failure reported from here on is no longer this reception's.
    pendingFailure_.Cancel();
    download_.Stop(Now());
    // If the line will not take the cancel now, closing it is all that is left.
    unsent_ += download_.TakeOutput();
    if (port_.IsOpen()) {
        port_.Write(unsent_);
    }
    CloseLine();
}

void SerialNetoCtl::OnLineReady(short revents) {
    if ((revents & POLLOUT) != 0 && !Flush()) {
        ReportLineFailure(true);
        return;
    }
    if ((revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) {
        char buffer[4096];
        for (;;) {
            const std::int64_t count = port_.Read(buffer, sizeof buffer);
            if (count < 0) {
                // The line is gone (an adapter pulled out, the other side of
                // a pseudo-terminal closed): reported like a port that cannot
                // be opened, so the cycle keeps trying to open it again. What
                // was stored stays stored, and its arrival is still raised.
                ReportLineFailure(true);
                return;
            }
            if (count == 0) {
                break;
            }
            download_.Receive(std::string_view(buffer, static_cast<std::size_t>(count)), Now());
        }
    }
    Service();
}

void SerialNetoCtl::Service() {
    if (!port_.IsOpen()) {
        return;
    }
    if (!Flush()) {
        ReportLineFailure(true);
        return;
    }
    ArmDeadline();
    if (download_.TakeArrival()) {
        // The handler runs now, synchronously, and may stop or restart us.
        RaiseProtocolMessage({kFileReceived, u"", 1, comPort_});
    }
}

bool SerialNetoCtl::Flush() {
    unsent_ += download_.TakeOutput();
    if (unsent_.size() > kMostUnsent) {
        // Only a line that nobody reads backs up this far; what it did not
        // take long ago is of no use to a sender that comes later.
        unsent_.erase(0, unsent_.size() - kMostUnsent);
    }
    while (!unsent_.empty()) {
        const std::int64_t written = port_.Write(unsent_);
        if (written < 0) {
            return false;
        }
        if (written == 0) {
            break;
        }
        unsent_.erase(0, static_cast<std::size_t>(written));
    }
    watch_.SetEvents(unsent_.empty() ? POLLIN : POLLIN | POLLOUT);
    return true;
}

void SerialNetoCtl::ArmDeadline() {
    deadline_.Cancel();
    const std::optional<DownloadSession::Time> due = download_.NextDeadline();
    if (!due) {
        return;
    }
    const EventLoop::Clock::time_point at(
        std::chrono::duration_cast<EventLoop::Clock::duration>(*due));
    deadline_ = loop_.ScheduleAt(at, [this] {
        download_.Tick(Now());
        Service();
    });
}

void SerialNetoCtl::ReportLineFailure(bool lost) {
    failure_ = Cp1252ToUtf16(DevicePath() + ": " + port_.Failure());
    lost_ = lost;
    // A delivery stored just before the line went is raised all the same.
    const bool arrived = download_.TakeArrival();
    download_.Stop(Now());
    CloseLine();
    if (!pendingFailure_) {
        pendingFailure_ = loop_.Post([this] {
            pendingFailure_.Cancel();
            RaiseProtocolMessage({kComPortCannotBeOpened, failure_, 1, comPort_});
        });
    }
    if (arrived) {
        RaiseProtocolMessage({kFileReceived, u"", 1, comPort_});
    }
}

void SerialNetoCtl::CloseLine() {
    watch_.Cancel();
    deadline_.Cancel();
    settled_.Cancel();
    unsent_.clear();
    port_.Close();
}

DownloadSession::Time SerialNetoCtl::Now() const {
    return std::chrono::duration_cast<DownloadSession::Time>(
        EventLoop::Clock::now().time_since_epoch());
}

}  // namespace vorlund
