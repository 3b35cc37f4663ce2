#include "app/win32/com_port_neto_ctl.h"

#include <algorithm>

#include "app/win32/com_error.h"

namespace vorlund {
namespace {

// The look at the port, beside the control's own timers.
constexpr UINT_PTR kLookId = 100;
// While a sender is heard it is answered at once, as far as the system's
// timers go; a line that has been quiet for a while is looked at seldom, so
// that a waiting service costs next to nothing. What a sender sends in the
// meantime waits in the port's read and queue (kept well beyond what the
// line carries in that time), and no sender wants an answer to its first
// frame sooner.
constexpr UINT kBusyLook = USER_TIMER_MINIMUM;
constexpr UINT kQuietLook = 250;
constexpr std::chrono::milliseconds kHeardFor{2000};

}  // namespace

ComPortNetoCtl::Time ComPortNetoCtl::MonotonicNow() {
    return Time(static_cast<Time::rep>(GetTickCount64()));
}

ComPortNetoCtl::ComPortNetoCtl(EventBoundary& boundary, DownloadSession& download,
                               DownloadObserver& observer)
    : BuiltInNetoCtl(download, observer), boundary_(boundary) {
    Shape shape;
    shape.parent = HWND_MESSAGE;
    CreateNative("VorlundComPort", "", shape);
}

ComPortNetoCtl::~ComPortNetoCtl() {
    StopRunning();
}

UINT_PTR ComPortNetoCtl::TimerId(Timer timer) {
    return static_cast<UINT_PTR>(timer) + 1;
}

bool ComPortNetoCtl::OpenLine(const LineSettings& settings) {
    port_ = SerialPort::Open(DevicePath(), settings);
    if (!port_.IsOpen()) {
        return false;
    }
    // A sender may be waiting already.
    lastHeard_ = Now();
    LookAgain();
    return true;
}

void ComPortNetoCtl::ReleaseLine() {
    KillTimer(Handle(), kLookId);
    lookEvery_ = 0;
    port_.Close();
}

std::int64_t ComPortNetoCtl::ReadLine(char* buffer, std::size_t size) {
    const std::int64_t count = port_.Read(buffer, size);
    if (count > 0) {
        lastHeard_ = Now();
    }
    return count;
}

void ComPortNetoCtl::LookAgain() {
    const UINT every = Now() - lastHeard_ < kHeardFor ? kBusyLook : kQuietLook;
    if (every == lookEvery_) {
        return;
    }
    if (SetTimer(Handle(), kLookId, every, nullptr) == 0) {
        ThrowLastError();
    }
    lookEvery_ = every;
}

void ComPortNetoCtl::Schedule(Timer timer, std::optional<Time> due) {
    if (!due) {
        KillTimer(Handle(), TimerId(timer));
        return;
    }
    const auto wait =
        std::clamp<Time::rep>((*due - Now()).count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    // Setting the same identifier again replaces its countdown.
    if (SetTimer(Handle(), TimerId(timer), static_cast<UINT>(wait), nullptr) == 0) {
        ThrowLastError();
    }
}

LRESULT ComPortNetoCtl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_TIMER) {
        return NativeWindow::HandleMessage(message, wParam, lParam);
    }
    if (wParam == kLookId) {
        boundary_.Deliver([this] {
            // A look that a port closed since was armed for finds nothing.
            if (port_.IsOpen()) {
                LineReady(true, true);
            }
            if (port_.IsOpen()) {
                LookAgain();
            }
        });
        return 0;
    }
    for (const Timer timer : {Timer::kDeadline, Timer::kLineFailure, Timer::kLineSettled}) {
        if (wParam == TimerId(timer)) {
            // Each is one tick of its own, armed again when it is wanted.
            KillTimer(Handle(), wParam);
            boundary_.Deliver([this, timer] { TimerDue(timer); });
            return 0;
        }
    }
    return 0;
}

}  // namespace vorlund
