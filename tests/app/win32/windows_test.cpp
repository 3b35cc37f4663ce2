// The shell's windows, menu and timers in this process; needs a display
// (the Windows tests run under Xvfb).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/win32/application_error.h"
#include "app/win32/application_window.h"
#include "app/win32/main_window.h"
#include "app/win32/popup_menu.h"
#include "app/win32/tray_icon.h"
#include "app/win32/win32_shell.h"
#include "app/win32/window_timer.h"

namespace vorlund {
namespace {

// Dispatches this thread's messages for `ms`; true when a quit request came.
bool PumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    bool quit = false;
    while (GetTickCount64() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            quit = quit || message.message == WM_QUIT;
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
    return quit;
}

TEST(PopupMenuTest, HasTheOneCloseItemInCodePage1252) {
    TPopupMenu menu;
    ASSERT_EQ(GetMenuItemCount(menu.Handle()), 1);
    char caption[64] = {};
    GetMenuStringA(menu.Handle(), 0, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, "St\xE4ng Vorlund");
    EXPECT_EQ(GetMenuItemID(menu.Handle(), 0), TPopupMenu::kVorlundCloseId);
    EXPECT_EQ(GetMenuState(menu.Handle(), 0, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED), 0u);
    EXPECT_EQ(GetMenuDefaultItem(menu.Handle(), FALSE, GMDI_USEDISABLED), static_cast<UINT>(-1));
}

TEST(PopupMenuTest, ClicksRunTheBoundHandlerOnlyForItsItem) {
    TPopupMenu menu;
    int clicks = 0;
    EXPECT_TRUE(menu.Click(TPopupMenu::kVorlundCloseId));  // unbound: nothing happens
    menu.SetOnVorlundCloseClick([&] { ++clicks; });
    EXPECT_FALSE(menu.Click(TPopupMenu::kVorlundCloseId + 1));
    menu.ClickDefault();  // no default item
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(menu.Click(TPopupMenu::kVorlundCloseId));
    EXPECT_EQ(clicks, 1);

    // A default item runs on ClickDefault, but only while it is enabled.
    SetMenuDefaultItem(menu.Handle(), TPopupMenu::kVorlundCloseId, FALSE);
    menu.ClickDefault();
    EXPECT_EQ(clicks, 2);
    EnableMenuItem(menu.Handle(), TPopupMenu::kVorlundCloseId, MF_BYCOMMAND | MF_GRAYED);
    menu.ClickDefault();
    EXPECT_EQ(clicks, 2);
}

TEST(WindowTimerTest, TicksThroughTheEventLoopUntilStopped) {
    int ticks = 0;
    WindowTimer timer([&] { ++ticks; });
    PumpFor(100);
    EXPECT_EQ(ticks, 0);  // not started
    timer.Start(30);
    PumpFor(250);
    EXPECT_GE(ticks, 3);
    timer.Stop();
    const int stopped = ticks;
    PumpFor(150);
    EXPECT_EQ(ticks, stopped);
    timer.Stop();  // stopping twice is harmless
}

TEST(WindowTimerTest, StartingAgainBeginsANewCountdown) {
    int ticks = 0;
    WindowTimer timer([&] { ++ticks; });
    timer.Start(200);
    for (int i = 0; i < 5; ++i) {
        PumpFor(60);
        timer.Start(200);
    }
    EXPECT_EQ(ticks, 0);
}

// Under Wine without an X display no top-level window can be made.
bool WineWithoutDisplay() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") &&
           GetEnvironmentVariableA("DISPLAY", nullptr, 0) == 0;
}

TEST(ShellWindowsTest, ClosingTheMainWindowOnlyAsksTheLoopToEnd) {
    if (WineWithoutDisplay()) {
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    }
    ApplicationWindow application("Testtitel");
    char title[32] = {};
    GetWindowTextA(application.Handle(), title, sizeof title);
    EXPECT_STREQ(title, "Testtitel");
    EXPECT_FALSE(IsWindowVisible(application.Handle()));

    MainWindow main(application.Handle());
    GetWindowTextA(main.Handle(), title, sizeof title);
    EXPECT_STREQ(title, " Vorlund");
    RECT client{};
    GetClientRect(main.Handle(), &client);
    EXPECT_EQ(client.right, 191);
    EXPECT_EQ(client.bottom, 52);
    EXPECT_FALSE(IsWindowVisible(main.Handle()));

    Win32Shell shell(application.Handle());
    application.SetOnClose([&] { shell.CloseMainWindow(); });
    // Before the main window is bound, a close request has nothing to close.
    SendMessageA(application.Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(PumpFor(50));

    shell.SetCloseMainWindow([&] { main.Close(); });
    SendMessageA(application.Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpFor(50));
    EXPECT_TRUE(IsWindow(main.Handle()));
    EXPECT_TRUE(IsWindow(application.Handle()));
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct WindowSearch {
    const char* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM state) {
    auto& search = *reinterpret_cast<WindowSearch*>(state);
    if (IsWindowVisible(window) && ClassOf(window) == search.className) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

// The visible window of `className` that this thread owns, if any.
HWND ThreadWindow(const char* className) {
    WindowSearch search{className, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A message box as its window shows it, and what it did to the thread's
// other windows, read from inside its modal loop before OK is pressed.
struct BoxSeen {
    std::string caption;
    HWND owner = nullptr;
    bool stopIcon = false;
    std::vector<int> buttons;
    bool topmost = false;
    bool applicationEnabled = true;
    bool mainEnabled = true;
};

BoxSeen SeeBox(const std::function<void()>& show, HWND application, HWND main) {
    BoxSeen seen;
    bool pressed = false;
    WindowTimer timer([&] {
        const HWND box = ThreadWindow("#32770");
        if (!box || pressed) {
            return;
        }
        char caption[64] = {};
        GetWindowTextA(box, caption, sizeof caption);
        seen.caption = caption;
        seen.owner = GetWindow(box, GW_OWNER);
        seen.topmost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        seen.applicationEnabled = IsWindowEnabled(application);
        seen.mainEnabled = IsWindowEnabled(main);
        const HICON stop = LoadIconA(nullptr, IDI_HAND);
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            const LONG style = GetWindowLongA(child, GWL_STYLE);
            if (ClassOf(child) == "Button" && (style & WS_VISIBLE)) {
                seen.buttons.push_back(GetDlgCtrlID(child));
            } else if (ClassOf(child) == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
                seen.stopIcon =
                    reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == stop;
            }
        }
        pressed = true;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    timer.Start(50);
    show();
    return seen;
}

TEST(ShellWindowsTest, BoxesShowTheStopIconAndOneOkButtonWithTheirOwnersAndModality) {
    if (WineWithoutDisplay()) {
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    }
    ApplicationWindow application("Datasvc");
    MainWindow main(application.Handle());
    Win32Shell shell(application.Handle());
    const std::runtime_error failure("Klass saknas");
    struct Case {
        const char* caption;
        std::function<void()> show;
        HWND owner;
        bool mainEnabled;  // false: task-modal, every window of the thread disabled
    };
    const Case cases[] = {
        {"Info", [&] { shell.ShowInfoBox("Text"); }, application.Handle(), true},
        {"Datasvc", [&] { shell.ShowFailureBox("Datasvc", "Text."); }, application.Handle(), true},
        {"Application Error", [&] { ShowApplicationError(failure, &failure); }, nullptr, false},
    };
    for (const Case& c : cases) {
        const BoxSeen seen = SeeBox(c.show, application.Handle(), main.Handle());
        EXPECT_EQ(seen.caption, c.caption);
        EXPECT_EQ(seen.owner, c.owner) << c.caption;
        EXPECT_TRUE(seen.stopIcon) << c.caption;
        EXPECT_EQ(seen.buttons, std::vector<int>{IDOK}) << c.caption;
        EXPECT_FALSE(seen.topmost) << c.caption;
        EXPECT_FALSE(seen.applicationEnabled) << c.caption;
        EXPECT_EQ(seen.mainEnabled, c.mainEnabled) << c.caption;
        EXPECT_TRUE(IsWindowEnabled(application.Handle())) << c.caption << " left it disabled";
    }
}

// The main window's stand-in: records the requests to cancel mouse modes,
// and a marker event posted before the tray menu opens.
class RecordingWindow final : public NativeWindow {
  public:
    static constexpr UINT kMarker = WM_APP + 7;
    explicit RecordingWindow(std::vector<std::string>& events) : events_(events) {
        Shape shape;
        shape.style = WS_POPUP;
        CreateNative("VorlundTestRecorder", "", shape);
    }

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_CANCELMODE) {
            events_.push_back("cancel mode");
        } else if (message == kMarker) {
            events_.push_back("waiting event");
        }
        return NativeWindow::HandleMessage(message, wParam, lParam);
    }

    std::vector<std::string>& events_;
};

LRESULT CALLBACK OtherToFrontOnMenuExit(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR other) {
    if (message == WM_EXITMENULOOP) {
        SetForegroundWindow(reinterpret_cast<HWND>(other));
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

TEST(TrayMenuTest, OpensAtThePointerBetweenTwoForegroundsAndTakesTheRightButton) {
    if (WineWithoutDisplay()) {
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    }
    std::vector<std::string> events;
    RecordingWindow main(events);
    TPopupMenu menu;
    menu.SetOnVorlundCloseClick([&] { events.push_back("item chosen"); });
    TRxTrayIcon icon(LoadIconA(nullptr, IDI_APPLICATION), menu);
    icon.SetMainWindow(main.Handle());
    const auto foreground = [&](const char* when) {
        events.push_back(std::string(when) +
                         (GetForegroundWindow() == icon.Handle() ? ": icon in front" : ": other"));
    };

    ASSERT_TRUE(SetCursorPos(140, 90));
    RECT shown{};
    bool clicked = false;
    WindowTimer timer([&] {
        const HWND popup = ThreadWindow("#32768");
        if (popup && clicked) {
            EndMenu();  // the click chose nothing: close the menu all the same
        }
        if (!popup || clicked) {
            return;
        }
        GetWindowRect(popup, &shown);
        foreground("menu open");
        // The right button chooses the one item, which fills the menu.
        // A tracked menu reads its clicks in screen coordinates.
        const LPARAM at =
            MAKELPARAM((shown.left + shown.right) / 2, (shown.top + shown.bottom) / 2);
        clicked = true;
        PostMessageA(popup, WM_RBUTTONDOWN, MK_RBUTTON, at);
        PostMessageA(popup, WM_RBUTTONUP, 0, at);
    });
    timer.Start(100);
    // As the menu closes someone else comes to the front; the icon's window
    // must take it back.
    SetWindowSubclass(icon.Handle(), OtherToFrontOnMenuExit, 0,
                      reinterpret_cast<DWORD_PTR>(main.Handle()));
    SetForegroundWindow(main.Handle());
    PostMessageA(main.Handle(), RecordingWindow::kMarker, 0, 0);
    SendMessageA(icon.Handle(), TRxTrayIcon::kNotifyMessage, 0, WM_RBUTTONDOWN);
    SendMessageA(icon.Handle(), TRxTrayIcon::kNotifyMessage, 0, WM_RBUTTONUP);
    foreground("menu closed");
    PumpFor(100);
    RemoveWindowSubclass(icon.Handle(), OtherToFrontOnMenuExit, 0);

    EXPECT_EQ(events,
              (std::vector<std::string>{"cancel mode", "waiting event", "menu open: icon in front",
                                        "menu closed: icon in front", "item chosen"}));
    // Left-aligned at the pointer: its top left corner is where the pointer is.
    EXPECT_EQ(shown.left, 140);
    EXPECT_EQ(shown.top, 90);
}

}  // namespace
}  // namespace vorlund
