#include "app/posix/serial_neto_ctl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

#include "common/cp1252.h"
#include "platform/posix/unique_fd.h"

namespace vorlund {
namespace {

// RcvDir arrives as the UTF-16 form of the spool directory's code-page-1252
// text; the file system wants those bytes back exactly.
std::string ToCp1252(std::u16string_view text) {
    std::string page(256, '\0');
    for (std::size_t byte = 0; byte < page.size(); ++byte) {
        page[byte] = static_cast<char>(byte);
    }
    const std::u16string codePoints = Cp1252ToUtf16(page);
    std::string bytes;
    for (char16_t unit : text) {
        const std::size_t byte = codePoints.find(unit);
        bytes.push_back(byte == std::u16string::npos ? '?' : page[byte]);
    }
    return bytes;
}

// Written once a line that had failed has stayed open for kLineSettled.
constexpr char kLineOpenedAgain[] = "COM-port \xF6ppnad igen";

// A healthy transfer never has more than a few answers waiting.
constexpr std::size_t kMostUnsent = 1024;

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

SerialNetoCtl::SerialNetoCtl(EventLoop& loop, Journal& journal) : loop_(loop), journal_(journal) {}

SerialNetoCtl::~SerialNetoCtl() {
    StopRunning();
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

std::int16_t SerialNetoCtl::Download(const std::u16string& /*id*/, const std::u16string& RcvDir,
                                     std::int32_t /*downType*/) {
    // A Download while the protocol runs starts it afresh.
    StopRunning();
    rcvDir_ = ToCp1252(RcvDir);
    port_ = SerialPort::Open(DevicePath(), line_);
    if (!port_.IsOpen()) {
        ReportLineFailure();
    } else {
        watch_ = loop_.Watch(port_.Descriptor(), POLLIN,
                             [this](short revents) { OnLineReady(revents); });
        receiver_ = std::make_unique<YmodemReceiver>(
            Now(),
            [this](std::string_view, std::string_view data) { return StoreReceivedFile(data); });
        settled_ = loop_.ScheduleAt(EventLoop::Clock::now() + kLineSettled, [this] {
            settled_.reset();
            journal_.EndRecurringFault(kLineOpenedAgain, DevicePath());
        });
        Service();
    }
    if (onDownload_) {
        onDownload_();
    }
    return 0;
}

void SerialNetoCtl::StopRunning() {
    if (pendingFailure_) {
        loop_.CancelTimer(*pendingFailure_);
        pendingFailure_.reset();
        // Its message will not come, so neither may its detail, to another.
        journal_.TakePendingDetail();
    }
    if (receiver_ && receiver_->TransferInProgress()) {
        // The sender is told at once rather than left to time out; if the
        // line will not take the cancel now, closing it is all that is left.
        receiver_->Cancel(Now());
        unsent_ += receiver_->TakeOutput();
        port_.Write(unsent_);
    }
    CloseLine();
}

void SerialNetoCtl::OnLineReady(short revents) {
    if ((revents & POLLOUT) != 0 && !Flush()) {
        ReportLineFailure();
        return;
    }
    if ((revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) {
        char buffer[4096];
        for (;;) {
            const std::int64_t count = port_.Read(buffer, sizeof buffer);
            if (count < 0) {
                // The line is gone (an adapter pulled out, the other side of
                // a pseudo-terminal closed): reported like a port that cannot
                // be opened, so the cycle keeps trying to open it again.
                ReportLineFailure();
                return;
            }
            if (count == 0) {
                break;
            }
            receiver_->Receive(std::string_view(buffer, static_cast<std::size_t>(count)), Now());
            if (!transferStarted_ && receiver_->TransferInProgress()) {
                transferStarted_ = EventLoop::Clock::now();
            }
        }
    }
    Service();
}

void SerialNetoCtl::Service() {
    if (!receiver_) {
        return;
    }
    if (!Flush()) {
        ReportLineFailure();
        return;
    }
    ArmDeadline();
    const std::uint64_t session = session_;
    while (receiver_ && session == session_) {
        const std::optional<YmodemReceiver::Outcome> outcome = receiver_->TakeOutcome();
        if (!outcome) {
            break;
        }
        // A failed or aborted transfer has written nothing; the receiver is
        // already waiting for the next one.
        const auto started = std::exchange(transferStarted_, std::nullopt);
        if (outcome->kind == YmodemReceiver::Outcome::Kind::kFileReceived) {
            lastArrival_ = {outcome->data.size(), started.value_or(EventLoop::Clock::now())};
            // The handler runs now, synchronously, and may stop or restart us.
            RaiseCode(kFileReceived);
        }
    }
}

bool SerialNetoCtl::Flush() {
    if (!receiver_) {
        return true;
    }
    unsent_ += receiver_->TakeOutput();
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
    loop_.SetWatchEvents(*watch_, unsent_.empty() ? POLLIN : POLLIN | POLLOUT);
    return true;
}

void SerialNetoCtl::ArmDeadline() {
    if (deadline_) {
        loop_.CancelTimer(*deadline_);
        deadline_.reset();
    }
    const std::optional<YmodemReceiver::Time> due = receiver_->NextDeadline();
    if (!due) {
        return;
    }
    const EventLoop::Clock::time_point at(
        std::chrono::duration_cast<EventLoop::Clock::duration>(*due));
    deadline_ = loop_.ScheduleAt(at, [this] {
        deadline_.reset();
        receiver_->Tick(Now());
        Service();
    });
}

bool SerialNetoCtl::StoreReceivedFile(std::string_view data) const {
    // Written under a temporary name and renamed, so the conversion never
    // sees half a file, and an X.DAT from before stays intact on a failure.
    const std::string path = rcvDir_ + "/X.DAT";
    const std::string temporary = rcvDir_ + "/.X.DAT." + std::to_string(::getpid()) + ".tmp";
    UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) {
        return false;
    }
    const bool written = WriteAll(fd.get(), data) && ::close(fd.release()) == 0;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void SerialNetoCtl::ReportLineFailure() {
    journal_.SetPendingDetail(DevicePath() + ": " + port_.Failure(), Recurrence::kRetried);
    CloseLine();
    if (!pendingFailure_) {
        pendingFailure_ = loop_.Post([this] {
            pendingFailure_.reset();
            RaiseCode(kComPortCannotBeOpened);
        });
    }
}

void SerialNetoCtl::CloseLine() {
    ++session_;
    if (watch_) {
        loop_.Unwatch(*watch_);
        watch_.reset();
    }
    if (deadline_) {
        loop_.CancelTimer(*deadline_);
        deadline_.reset();
    }
    if (settled_) {
        loop_.CancelTimer(*settled_);
        settled_.reset();
    }
    transferStarted_.reset();
    receiver_.reset();
    unsent_.clear();
    port_.Close();
}

void SerialNetoCtl::RaiseCode(std::int16_t code) {
    RaiseProtocolMessage({code, u"", 1, comPort_});
}

YmodemReceiver::Time SerialNetoCtl::Now() const {
    return std::chrono::duration_cast<YmodemReceiver::Time>(
        EventLoop::Clock::now().time_since_epoch());
}

}  // namespace vorlund
