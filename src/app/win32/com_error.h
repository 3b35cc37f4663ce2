// Turns a failed component call (or system call) into the ControlError that escapes the
// handler that made it, with a message a user can read in the failure box.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <string_view>

namespace vorlund {

// The component's own description when it gave one, else the system's text
// for the result code, else "OLE error XXXXXXXX". Code page 1252.
std::string ComErrorMessage(HRESULT result, EXCEPINFO* exception);

[[noreturn]] void ThrowComError(HRESULT result, EXCEPINFO* exception = nullptr);

// A failed system call of the shell itself (a window that cannot be made):
// std::runtime_error with the system's text for GetLastError().
[[noreturn]] void ThrowLastError();

// UTF-16 to the ANSI code page, for texts that end up in message boxes.
std::string AnsiText(std::wstring_view text);

}  // namespace vorlund
