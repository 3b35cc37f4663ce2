// Finding the service's windows from another process, the way a user's
// desktop would see them: by class, caption and visibility, with a deadline.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace windriver {

struct WindowInfo {
    HWND handle = nullptr;
    std::string className;
    std::string title;
    bool visible = false;
    DWORD process = 0;
};

WindowInfo Describe(HWND window);
std::vector<WindowInfo> TopLevelWindows();
std::vector<WindowInfo> ChildWindows(HWND parent);

// Polls the top-level windows until one matches or `timeoutMs` has passed.
HWND WaitForWindow(const std::function<bool(const WindowInfo&)>& matches, DWORD timeoutMs);

// "*" matches anything.
bool NameMatches(const std::string& pattern, const std::string& name);

// Text with every byte outside printable ASCII written as \xNN, and '\' as
// "\\", so tests can compare code page 1252 texts without caring about the
// console's encoding.
std::string Escape(const std::string& bytes);

}  // namespace windriver
