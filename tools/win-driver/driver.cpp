// A small Windows program through which the end-to-end tests act as the user
// and the desktop would: read and dismiss message boxes, send the tray icon's
// mouse notifications, pick from the tray menu, ask windows to close, and
// start the service with a given show command. Each command prints what it
// saw and exits with 0 when it found what it was asked for, 1 otherwise.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "window_search.h"

namespace windriver {
namespace {

using Arguments = std::vector<std::string>;

constexpr char kBoxClass[] = "#32770";
constexpr char kMenuClass[] = "#32768";

DWORD Milliseconds(const std::string& text) {
    return std::strtoul(text.c_str(), nullptr, 10);
}

HWND FindTopLevel(const std::string& className, const std::string& title, DWORD timeoutMs) {
    return WaitForWindow(
        [&](const WindowInfo& w) {
            return NameMatches(className, w.className) && NameMatches(title, w.title);
        },
        timeoutMs);
}

HWND FindBox(const std::string& caption, DWORD timeoutMs) {
    return WaitForWindow(
        [&](const WindowInfo& w) {
            return w.visible && w.className == kBoxClass && NameMatches(caption, w.title);
        },
        timeoutMs);
}

HWND FindMenu(DWORD timeoutMs) {
    return WaitForWindow([](const WindowInfo& w) { return w.visible && w.className == kMenuClass; },
                         timeoutMs);
}

// find CLASS TITLE TIMEOUT: waits for a top-level window.
int Find(const Arguments& args) {
    const HWND window = FindTopLevel(args.at(0), args.at(1), Milliseconds(args.at(2)));
    if (!window) {
        std::printf("not found\n");
        return 1;
    }
    const WindowInfo info = Describe(window);
    std::printf("found %s visible=%d\n", Escape(info.title).c_str(), info.visible ? 1 : 0);
    return 0;
}

// absent CLASS TITLE TIMEOUT: waits until no such top-level window exists.
int Absent(const Arguments& args) {
    const ULONGLONG deadline = GetTickCount64() + Milliseconds(args.at(2));
    while (FindTopLevel(args.at(0), args.at(1), 0)) {
        if (GetTickCount64() >= deadline) {
            std::printf("still there\n");
            return 1;
        }
        Sleep(20);
    }
    return 0;
}

// box CAPTION TIMEOUT [keep]: prints a message box's text, buttons and owner,
// then presses OK and waits for the box to close, unless told to keep it open.
int Box(const Arguments& args) {
    const HWND box = FindBox(args.at(0), Milliseconds(args.at(1)));
    if (!box) {
        std::printf("no box\n");
        return 1;
    }
    std::string text;
    std::string buttons;
    HWND ok = nullptr;
    for (const WindowInfo& child : ChildWindows(box)) {
        if (child.className == "Static" && !child.title.empty()) {
            text = child.title;
        } else if (child.className == "Button" && child.visible) {
            buttons += (buttons.empty() ? "" : ",") + child.title;
            if (GetDlgCtrlID(child.handle) == IDOK) {
                ok = child.handle;
            }
        }
    }
    const HWND owner = GetWindow(box, GW_OWNER);
    std::printf("text: %s\n", Escape(text).c_str());
    std::printf("buttons: %s\n", Escape(buttons).c_str());
    std::printf(
        "owner: %s\n",
        owner ? Escape(Describe(owner).className + "|" + Describe(owner).title).c_str() : "none");
    if (args.size() < 3 || args[2] != "keep") {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        // Answered once the box is gone, as a user sees it go.
        const ULONGLONG deadline = GetTickCount64() + 5000;
        while (IsWindow(box) && IsWindowVisible(box) && GetTickCount64() < deadline) {
            Sleep(20);
        }
    }
    return 0;
}

// no-box CAPTION MS / no-menu MS: succeeds when nothing of the kind appears.
int NoBox(const Arguments& args) {
    if (const HWND box = FindBox(args.at(0), Milliseconds(args.at(1)))) {
        std::printf("unexpected box %s\n", Escape(Describe(box).title).c_str());
        return 1;
    }
    return 0;
}

int NoMenu(const Arguments& args) {
    if (FindMenu(Milliseconds(args.at(0)))) {
        std::printf("unexpected menu\n");
        return 1;
    }
    return 0;
}

// tray CLASS MESSAGE EVENT...: posts the icon's callback message with each
// mouse event, as the notification area does for icon 0.
int Tray(const Arguments& args) {
    static const std::map<std::string, UINT> kEvents = {
        {"move", WM_MOUSEMOVE},     {"ldown", WM_LBUTTONDOWN}, {"lup", WM_LBUTTONUP},
        {"ldbl", WM_LBUTTONDBLCLK}, {"rdown", WM_RBUTTONDOWN}, {"rup", WM_RBUTTONUP},
        {"rdbl", WM_RBUTTONDBLCLK}, {"mdown", WM_MBUTTONDOWN}, {"mup", WM_MBUTTONUP},
        {"mdbl", WM_MBUTTONDBLCLK},
    };
    const HWND window = FindTopLevel(args.at(0), "*", 5000);
    if (!window) {
        std::printf("no icon window\n");
        return 1;
    }
    const UINT message = static_cast<UINT>(std::strtoul(args.at(1).c_str(), nullptr, 0));
    for (std::size_t i = 2; i < args.size(); ++i) {
        const auto event = kEvents.find(args[i]);
        if (event == kEvents.end()) {
            std::printf("unknown event %s\n", args[i].c_str());
            return 1;
        }
        PostMessageA(window, message, 0, event->second);
        Sleep(30);
    }
    return 0;
}

NOTIFYICONDATAA IconOf(HWND window) {
    NOTIFYICONDATAA icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 0;
    return icon;
}

// tray-present CLASS TIMEOUT: the notification area knows icon 0 of the
// window (a modification that changes nothing succeeds only for a known icon).
int TrayPresent(const Arguments& args) {
    const ULONGLONG deadline = GetTickCount64() + Milliseconds(args.at(1));
    for (;;) {
        if (const HWND window = FindTopLevel(args.at(0), "*", 0)) {
            NOTIFYICONDATAA icon = IconOf(window);
            if (Shell_NotifyIconA(NIM_MODIFY, &icon)) {
                return 0;
            }
        }
        if (GetTickCount64() >= deadline) {
            std::printf("no icon\n");
            return 1;
        }
        Sleep(50);
    }
}

// tray-remove CLASS: takes icon 0 of the window out of the notification area,
// as a restart of the desktop shell would.
int TrayRemove(const Arguments& args) {
    const HWND window = FindTopLevel(args.at(0), "*", 5000);
    NOTIFYICONDATAA icon = IconOf(window);
    return window && Shell_NotifyIconA(NIM_DELETE, &icon) ? 0 : 1;
}

// taskbar-created: the broadcast of a notification area that has (re)started.
int TaskbarCreated(const Arguments&) {
    const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return PostMessageA(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
}

void PostKey(HWND window, WPARAM key) {
    PostMessageA(window, WM_KEYDOWN, key, 1);
    PostMessageA(window, WM_KEYUP, key, 0xC0000001);
    Sleep(50);
}

// menu-pick INDEX TIMEOUT: chooses the INDEX-th item (from 0) of the open
// popup menu with the keyboard, as a user could.
int MenuPick(const Arguments& args) {
    const HWND menu = FindMenu(Milliseconds(args.at(1)));
    if (!menu) {
        std::printf("no menu\n");
        return 1;
    }
    const long index = std::strtol(args.at(0).c_str(), nullptr, 10);
    for (long i = 0; i <= index; ++i) {
        PostKey(menu, VK_DOWN);
    }
    PostKey(menu, VK_RETURN);
    return 0;
}

// menu-dismiss TIMEOUT: closes the open popup menu without a choice, and
// answers once it is gone, as a user sees it go (under emulation that can
// take well over the time a later no-menu waits).
int MenuDismiss(const Arguments& args) {
    const DWORD timeout = Milliseconds(args.at(0));
    const HWND menu = FindMenu(timeout);
    if (!menu) {
        std::printf("no menu\n");
        return 1;
    }
    PostKey(menu, VK_ESCAPE);
    const ULONGLONG deadline = GetTickCount64() + timeout;
    while (IsWindow(menu) && IsWindowVisible(menu)) {
        if (GetTickCount64() >= deadline) {
            std::printf("menu still open\n");
            return 1;
        }
        Sleep(20);
    }
    return 0;
}

// keep-tray SECONDS: keeps an icon of its own in the notification area for
// that long (or until it is ended), as any desktop has other icons. (Wine
// without a window manager hides its stand-alone tray window when the last
// icon goes, and each such hiding stalls the removing program for seconds.)
int KeepTray(const Arguments& args) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "WinDriverTrayKeeper";
    RegisterClassA(&windowClass);
    const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
    NOTIFYICONDATAA icon = IconOf(window);
    icon.uFlags = NIF_ICON;
    icon.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    if (!window || !Shell_NotifyIconA(NIM_ADD, &icon)) {
        return 1;
    }
    std::printf("keeping\n");
    std::fflush(stdout);
    // A thread timer bounds the lifetime, should the test run be killed.
    SetTimer(nullptr, 0, Milliseconds(args.at(0)) * 1000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER) {
        DispatchMessageA(&message);
    }
    Shell_NotifyIconA(NIM_DELETE, &icon);
    return 0;
}

// close CLASS TITLE: a close request from outside; prints when it was sent.
int Close(const Arguments& args) {
    const HWND window = FindTopLevel(args.at(0), args.at(1), 5000);
    if (!window || !PostMessageA(window, WM_CLOSE, 0, 0)) {
        return 1;
    }
    // On the clock of the stand-in control's log.
    std::printf("posted at %llu\n", static_cast<unsigned long long>(GetTickCount64()));
    return 0;
}

// visible CLASS TITLE: lists the visible top-level windows of the process that
// owns the given window; succeeds when there are none.
int Visible(const Arguments& args) {
    const HWND window = FindTopLevel(args.at(0), args.at(1), 5000);
    if (!window) {
        std::printf("not found\n");
        return 1;
    }
    const DWORD process = Describe(window).process;
    int shown = 0;
    for (const WindowInfo& w : TopLevelWindows()) {
        if (w.process == process && w.visible) {
            std::printf("visible %s|%s\n", Escape(w.className).c_str(), Escape(w.title).c_str());
            ++shown;
        }
    }
    return shown == 0 ? 0 : 1;
}

// run SHOW PROGRAM: starts the program with a show command (normal,
// maximized, minimized) and exits with its exit code.
int Run(const Arguments& args) {
    static const std::map<std::string, WORD> kShow = {{"normal", SW_SHOWNORMAL},
                                                      {"maximized", SW_SHOWMAXIMIZED},
                                                      {"minimized", SW_SHOWMINIMIZED}};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = kShow.at(args.at(0));
    std::string commandLine = "\"" + args.at(1) + "\"";
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("cannot start\n");
        return 125;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 125;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

// list: every top-level window, for diagnosis.
int List(const Arguments&) {
    for (const WindowInfo& w : TopLevelWindows()) {
        std::printf("%lu %d %s|%s\n", w.process, w.visible ? 1 : 0, Escape(w.className).c_str(),
                    Escape(w.title).c_str());
    }
    return 0;
}

// One command with its arguments; 2 for an unknown command or a missing
// argument.
int Execute(const Arguments& words) {
    static const std::map<std::string, int (*)(const Arguments&)> kCommands = {
        {"find", Find},
        {"absent", Absent},
        {"box", Box},
        {"no-box", NoBox},
        {"no-menu", NoMenu},
        {"tray", Tray},
        {"tray-present", TrayPresent},
        {"tray-remove", TrayRemove},
        {"taskbar-created", TaskbarCreated},
        {"menu-pick", MenuPick},
        {"menu-dismiss", MenuDismiss},
        {"close", Close},
        {"visible", Visible},
        {"run", Run},
        {"list", List},
        {"keep-tray", KeepTray},
    };
    if (words.empty() || kCommands.count(words[0]) == 0) {
        std::printf("usage: win-driver COMMAND ARGS...\n");
        return 2;
    }
    try {
        return kCommands.at(words[0])(Arguments(words.begin() + 1, words.end()));
    } catch (const std::out_of_range&) {
        std::printf("win-driver %s: missing argument\n", words[0].c_str());
        return 2;
    }
}

// serve: runs the commands read from standard input, one a line with its
// arguments separated by tabs, and ends each one's output with a line
// "=== N", N being its exit code. A test session keeps one driver serving,
// which spares it a process start per command (seconds each, where the
// 32-bit programs run under emulation).
int Serve() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        Arguments words;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos;
             start = tab + 1) {
            words.push_back(line.substr(start, tab - start));
        }
        words.push_back(line.substr(start));
        const int result = Execute(words);
        std::printf("=== %d\n", result);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace
}  // namespace windriver

int main(int argc, char** argv) {
    using namespace windriver;
    const Arguments words(argv + 1, argv + argc);
    const int result = words.size() == 1 && words[0] == "serve" ? Serve() : Execute(words);
    std::fflush(stdout);
    return result;
}
