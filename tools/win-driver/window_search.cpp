#include "window_search.h"

#include <cstdio>

namespace windriver {
namespace {

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<WindowInfo>*>(list)->push_back(Describe(window));
    return TRUE;
}

}  // namespace

WindowInfo Describe(HWND window) {
    WindowInfo info;
    info.handle = window;
    char text[512] = {};
    GetClassNameA(window, text, sizeof text);
    info.className = text;
    text[0] = '\0';
    GetWindowTextA(window, text, sizeof text);
    info.title = text;
    info.visible = IsWindowVisible(window) != FALSE;
    GetWindowThreadProcessId(window, &info.process);
    return info;
}

std::vector<WindowInfo> TopLevelWindows() {
    std::vector<WindowInfo> windows;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<WindowInfo> ChildWindows(HWND parent) {
    std::vector<WindowInfo> windows;
    EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND WaitForWindow(const std::function<bool(const WindowInfo&)>& matches, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        for (const WindowInfo& window : TopLevelWindows()) {
            if (matches(window)) {
                return window.handle;
            }
        }
        if (GetTickCount64() >= deadline) {
            return nullptr;
        }
        Sleep(20);
    }
}

bool NameMatches(const std::string& pattern, const std::string& name) {
    return pattern == "*" || pattern == name;
}

std::string Escape(const std::string& bytes) {
    std::string escaped;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            escaped += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            escaped += hex;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace windriver
