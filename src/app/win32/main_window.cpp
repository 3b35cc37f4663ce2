#include "app/win32/main_window.h"

namespace vorlund {
namespace {

constexpr int kClientWidth = 191;
constexpr int kClientHeight = 52;

}  // namespace

MainWindow::MainWindow(HWND applicationWindow) {
    Shape shape;
    // A fixed single border, a system menu and a minimise box.
    shape.style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    shape.parent = applicationWindow;  // owner, as the main window of the application
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, shape.style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    shape.bounds = RECT{left, top, left + width, top + height};
    CreateNative("TfrmMain", " Vorlund", shape);
}

void MainWindow::Close() {
    SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        // Nothing can refuse the close; the quit request is posted at once.
        PostQuitMessage(0);
        return 0;
    }
    return NativeWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace vorlund
