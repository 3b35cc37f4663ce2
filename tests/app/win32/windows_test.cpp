// The shell's windows, menu and timers in this process; needs a display
// (the Windows tests run under Xvfb).
#include <gtest/gtest.h>

#include <string>

#include "app/win32/application_window.h"
#include "app/win32/main_window.h"
#include "app/win32/popup_menu.h"
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

}  // namespace
}  // namespace vorlund
