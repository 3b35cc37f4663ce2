#include "app/win32/application_window.h"

#include <utility>

namespace vorlund {

ApplicationWindow::ApplicationWindow(const std::string& title) {
    Shape shape;
    shape.style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
    CreateNative("VorlundApplication", title.c_str(), shape);
    // The first ShowWindow of a process takes the show command it was started
    // with; spend it here on hiding, so that no window of ours (a message box
    // included) ever appears maximised or minimised because of a shortcut.
    ShowWindow(Handle(), SW_HIDE);
}

void ApplicationWindow::SetOnClose(std::function<void()> onClose) {
    onClose_ = std::move(onClose);
}

LRESULT ApplicationWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        if (onClose_) {
            onClose_();
        }
        return 0;
    }
    return NativeWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace vorlund
