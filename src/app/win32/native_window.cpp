#include "app/win32/native_window.h"

#include "app/win32/com_error.h"

namespace vorlund {

NativeWindow::~NativeWindow() {
    DestroyNative();
}

void NativeWindow::CreateNative(const char* className, const char* title, const Shape& shape) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className;
    if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError();
    }
    const RECT& r = shape.bounds;
    // A failure must not be reported with the class registration's code.
    SetLastError(ERROR_SUCCESS);
    if (!CreateWindowExA(shape.exStyle, className, title, shape.style, r.left, r.top,
                         r.right - r.left, r.bottom - r.top, shape.parent, nullptr, instance,
                         this)) {
        ThrowLastError();
    }
}

void NativeWindow::DestroyNative() {
    if (handle_) {
        DestroyWindow(handle_);
    }
}

LRESULT NativeWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(handle_, message, wParam, lParam);
}

LRESULT CALLBACK NativeWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<NativeWindow*>(
            reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->handle_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<NativeWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    const LRESULT result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->handle_ = nullptr;
    }
    return result;
}

}  // namespace vorlund
