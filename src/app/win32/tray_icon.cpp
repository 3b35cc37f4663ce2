#include "app/win32/tray_icon.h"

#include <shellapi.h>

namespace vorlund {
namespace {

// Handles every event that is already waiting, as the menu's opening needs;
// a quit request found on the way is put back for the main loop.
void HandleWaitingEvents() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

TRxTrayIcon::TRxTrayIcon(HICON picture, const TPopupMenu& popupMenu)
    : picture_(picture),
      popupMenu_(popupMenu),
      taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")) {
    Shape shape;
    shape.style = WS_POPUP;
    CreateNative("VorlundTrayIcon", "", shape);
    // Without a notification area yet the icon is simply absent until the
    // area announces itself with "TaskbarCreated".
    Register(NIM_ADD);
}

TRxTrayIcon::~TRxTrayIcon() {
    Register(NIM_DELETE);
    DestroyNative();
}

bool TRxTrayIcon::Register(DWORD action) {
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = Handle();
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kNotifyMessage;
    data.hIcon = picture_;
    data.szTip[0] = '\0';  // the hint is empty: no tooltip
    return Shell_NotifyIconA(action, &data) != FALSE;
}

LRESULT TRxTrayIcon::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kNotifyMessage) {
        Notify(static_cast<UINT>(lParam));
        return 0;
    }
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        // The notification area has (re)started without our icon.
        Register(NIM_ADD);
        return 0;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == 0 && popupMenu_.Click(LOWORD(wParam))) {
        return 0;
    }
    return NativeWindow::HandleMessage(message, wParam, lParam);
}

void TRxTrayIcon::Notify(UINT mouseMessage) {
    POINT at{};
    GetCursorPos(&at);
    switch (mouseMessage) {
        case WM_LBUTTONDOWN:
            leftPressed_ = true;
            break;
        case WM_LBUTTONUP:
            // A click of the left button, which nothing is bound to.
            leftPressed_ = false;
            break;
        case WM_LBUTTONDBLCLK:
            popupMenu_.ClickDefault();
            break;
        case WM_RBUTTONDOWN:
            rightPressed_ = true;
            break;
        case WM_RBUTTONUP:
            if (rightPressed_) {
                rightPressed_ = false;
                OpenPopupMenu(at);
            }
            break;
        default:
            break;
    }
}

void TRxTrayIcon::OpenPopupMenu(POINT at) {
    const HWND active = GetActiveWindow();
    if (const HWND target = active ? active : mainWindow_) {
        SendMessageA(target, WM_CANCELMODE, 0, 0);
    }
    if (IsWindowEnabled(Handle())) {
        SetForegroundWindow(Handle());
    }
    HandleWaitingEvents();
    popupMenu_.Popup(Handle(), at);
    if (IsWindowEnabled(Handle())) {
        SetForegroundWindow(Handle());
    }
}

}  // namespace vorlund
