#include "app/win32/window_timer.h"

#include <utility>

#include "app/win32/com_error.h"

namespace vorlund {
namespace {

constexpr UINT_PTR kTimerId = 1;

}  // namespace

WindowTimer::WindowTimer(std::function<void()> onTick) : onTick_(std::move(onTick)) {
    Shape shape;
    shape.parent = HWND_MESSAGE;
    CreateNative("VorlundTimer", "", shape);
}

WindowTimer::~WindowTimer() {
    Stop();
}

void WindowTimer::Start(unsigned intervalMs) {
    // Setting the same identifier again starts a new countdown.
    if (SetTimer(Handle(), kTimerId, intervalMs, nullptr) == 0) {
        ThrowLastError();
    }
    started_ = true;
}

void WindowTimer::Stop() {
    if (started_) {
        KillTimer(Handle(), kTimerId);
        started_ = false;
    }
}

LRESULT WindowTimer::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
        onTick_();
        return 0;
    }
    return NativeWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace vorlund
