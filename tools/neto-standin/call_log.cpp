#include "call_log.h"

#include <windows.h>

#include <string>

namespace standin {

void CallLog::Write(const std::string& line) const {
    if (path_.empty()) {
        return;
    }
    HANDLE file = CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    // Milliseconds of the system clock first, so tests can check delays.
    const std::string record = std::to_string(GetTickCount64()) + " " + line + "\n";
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace standin
