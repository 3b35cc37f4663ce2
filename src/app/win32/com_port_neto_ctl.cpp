#include "app/win32/com_port_neto_ctl.h"

#include <algorithm>

#include "app/win32/com_error.h"

namespace vorlund {
namespace {

// The port's news: a read or a write has ended.
constexpr UINT kPortMessage = WM_APP + 2;

}  // namespace

UINT_PTR ComPortNetoCtl::TimerId(Timer timer) {
    return static_cast<UINT_PTR>(timer) + 1;
}

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

bool ComPortNetoCtl::OpenLine(const LineSettings& settings) {
    port_ = SerialPort::Open(DevicePath(), settings, Handle(), kPortMessage);
    return port_.IsOpen();
}

void ComPortNetoCtl::Schedule(Timer timer, std::optional<Time> due) {
    if (!due) {
        KillTimer(Handle(), TimerId(timer));
        return;
    }
    const auto wait = std::clamp<Time::rep>((*due - Now()).count(), USER_TIMER_MINIMUM,
                                            USER_TIMER_MAXIMUM);
    // Setting the same identifier again replaces its countdown.
    if (SetTimer(Handle(), TimerId(timer), static_cast<UINT>(wait), nullptr) == 0) {
        ThrowLastError();
    }
}

LRESULT ComPortNetoCtl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPortMessage) {
        // A message that a closed port sent before it went finds nothing.
        boundary_.Deliver([this] {
            if (port_.IsOpen()) {
                LineReady(true, true);
            }
        });
        return 0;
    }
    if (message == WM_TIMER) {
        for (const Timer timer : {Timer::kDeadline, Timer::kLineFailure, Timer::kLineSettled}) {
            if (wParam == TimerId(timer)) {
                // Each is one tick of its own, armed again when it is wanted.
                KillTimer(Handle(), wParam);
                boundary_.Deliver([this, timer] { TimerDue(timer); });
                return 0;
            }
        }
    }
    return NativeWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace vorlund
