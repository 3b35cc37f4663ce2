#include "app/win32/single_instance.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace vorlund {
namespace {

std::wstring ExecutableDirectory() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD size =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (size == 0) {
            return {};
        }
        if (size < path.size()) {
            const std::wstring file(path.data(), size);
            return file.substr(0, file.find_last_of(L'\\') + 1);
        }
        path.resize(path.size() * 2);
    }
}

// The long, full form of a path; the path itself when it has none.
std::wstring LongPath(const std::wstring& path) {
    const DWORD size = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) {
        return path;
    }
    std::wstring longPath(size, L'\0');
    const DWORD written = GetLongPathNameW(path.c_str(), longPath.data(), size);
    if (written == 0 || written >= size) {
        return path;
    }
    longPath.resize(written);
    return longPath;
}

}  // namespace

std::wstring InstanceClaimName(std::wstring_view directory) {
    std::wstring key = LongPath(std::wstring(directory));
    if (!key.empty()) {
        CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    }
    // Kernel object names allow no backslash and at most MAX_PATH characters,
    // so the directory enters the name as a 64-bit FNV-1a hash of its text.
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const wchar_t unit : key) {
        hash = (hash ^ static_cast<std::uint16_t>(unit)) * 0x100000001B3ULL;
    }
    std::wstring name = L"Global\\Vorlund.";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += L"0123456789ABCDEF"[(hash >> shift) & 0xF];
    }
    return name;
}

SingleInstance::SingleInstance() {
    const std::wstring name = InstanceClaimName(ExecutableDirectory());
    SetLastError(ERROR_SUCCESS);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    claim_.reset(mutex);
    // A claim made by another user's copy cannot even be opened; any other
    // failure lets the service start rather than leave the terminal unserved.
    anotherIsRunning_ = (claim_ && error == ERROR_ALREADY_EXISTS) || error == ERROR_ACCESS_DENIED;
    if (anotherIsRunning_) {
        claim_.reset();
    }
}

}  // namespace vorlund
