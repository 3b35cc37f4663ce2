#include "app/built_in_neto_ctl.h"

#include "common/cp1252.h"

namespace vorlund {
namespace {

// A healthy transfer never has more than a few answers waiting.
constexpr std::size_t kMostUnsent = 1024;

}  // namespace

void BuiltInNetoCtl::SetBaudrate(std::int32_t value) {
    if (!SupportsBaudrate(value)) {
        throw ControlError("The serial line cannot run at " + std::to_string(value) + " baud");
    }
    line_.baudrate = value;
}

void BuiltInNetoCtl::SetParity(std::int16_t value) {
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

void BuiltInNetoCtl::SetByteSize(std::int16_t value) {
    if (value < 5 || value > 8) {
        throw ControlError("A byte size of " + std::to_string(value) + " bits is not supported");
    }
    line_.dataBits = value;
}

void BuiltInNetoCtl::SetStopBits(std::int16_t value) {
    if (value != 0 && value != 2) {
        throw ControlError("Stop bits " + std::to_string(value) + " are not supported");
    }
    line_.twoStopBits = value == 2;
}

std::int16_t BuiltInNetoCtl::Download(const std::u16string& /*id*/,
                                      const std::u16string& /*RcvDir*/, std::int32_t /*downType*/) {
    // A Download while the protocol runs starts it afresh.
    StopRunning();
    if (!OpenLine(line_)) {
        ReportLineFailure(false);
    } else {
        download_.Start(Now());
        Schedule(Timer::kLineSettled, Now() + kLineSettled);
        Service();
    }
    observer_.ReceptionStarted();
    return 0;
}

void BuiltInNetoCtl::StopRunning() {
    // A failure reported from here on is no longer this reception's.
    failurePending_ = false;
    Schedule(Timer::kLineFailure, std::nullopt);
    download_.Stop(Now());
    // If the line will not take the cancel now, closing it is all that is left.
    unsent_ += download_.TakeOutput();
    if (LineIsOpen()) {
        WriteLastWords(unsent_);
    }
    CloseLine();
}

void BuiltInNetoCtl::LineReady(bool readable, bool writable) {
    if (writable && !Flush()) {
        ReportLineFailure(true);
        return;
    }
    if (readable) {
        char buffer[4096];
        for (;;) {
            const std::int64_t count = ReadLine(buffer, sizeof buffer);
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

void BuiltInNetoCtl::TimerDue(Timer timer) {
    switch (timer) {
        case Timer::kDeadline:
            download_.Tick(Now());
            Service();
            break;
        case Timer::kLineFailure:
            if (failurePending_) {
                failurePending_ = false;
                RaiseProtocolMessage({kComPortCannotBeOpened, failure_, 1, comPort_});
            }
            break;
        case Timer::kLineSettled:
            observer_.LineBack(DevicePath());
            break;
    }
}

void BuiltInNetoCtl::Service() {
    if (!LineIsOpen()) {
        return;
    }
    if (!Flush()) {
        ReportLineFailure(true);
        return;
    }
    Schedule(Timer::kDeadline, download_.NextDeadline());
    if (download_.TakeArrival()) {
        // The handler runs now, synchronously, and may stop or restart us.
        RaiseProtocolMessage({kFileReceived, u"", 1, comPort_});
    }
}

bool BuiltInNetoCtl::Flush() {
    unsent_ += download_.TakeOutput();
    if (unsent_.size() > kMostUnsent) {
        // Only a line that nobody reads backs up this far; what it did not
        // take long ago is of no use to a sender that comes later.
        unsent_.erase(0, unsent_.size() - kMostUnsent);
    }
    while (!unsent_.empty()) {
        const std::int64_t written = WriteLine(unsent_);
        if (written < 0) {
            return false;
        }
        if (written == 0) {
            break;
        }
        unsent_.erase(0, static_cast<std::size_t>(written));
    }
    WatchWritable(!unsent_.empty());
    return true;
}

void BuiltInNetoCtl::ReportLineFailure(bool lost) {
    failure_ = Cp1252ToUtf16(DevicePath() + ": " + LineFailure());
    lost_ = lost;
    // A delivery stored just before the line went is raised all the same.
    const bool arrived = download_.TakeArrival();
    download_.Stop(Now());
    CloseLine();
    if (!failurePending_) {
        failurePending_ = true;
        Schedule(Timer::kLineFailure, Now());
    }
    if (arrived) {
        RaiseProtocolMessage({kFileReceived, u"", 1, comPort_});
    }
}

void BuiltInNetoCtl::CloseLine() {
    Schedule(Timer::kDeadline, std::nullopt);
    Schedule(Timer::kLineSettled, std::nullopt);
    unsent_.clear();
    ReleaseLine();
}

}  // namespace vorlund
