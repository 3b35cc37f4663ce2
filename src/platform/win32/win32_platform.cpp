// The Windows implementation of the platform layer: the ANSI (*A) functions,
// so every path and text stays in the single-byte code page.
#include <windows.h>

#include <malloc.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/read_to_end.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_files.h"

namespace vorlund {
namespace {

DWORD Attributes(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

class Win32Platform final : public Platform {
  public:
    char PathSeparator() const override { return '\\'; }

    std::string ExecutablePath() const override {
        std::string path(MAX_PATH, '\0');
        for (;;) {
            const DWORD length =
                ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (length < path.size()) {
                path.resize(length);
                return path;
            }
            path.resize(path.size() * 2);
        }
    }

    bool IsDirectory(const std::string& path) const override {
        const DWORD attributes = Attributes(path);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    Status MakeDirectory(const std::string& path) const override {
        if (!::CreateDirectoryA(path.c_str(), nullptr)) {
            return LastSystemFailure();
        }
        return {};
    }

    bool ReadSettingsFile(const std::string& path, std::string& content) const override {
        UniqueHandle handle(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle)
            return false;
        Win32InputFile file(std::move(handle));
        return ReadToEnd(file, content);
    }

    bool FileExists(const std::string& path) const override {
        const DWORD attributes = Attributes(path);
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    Result<std::unique_ptr<InputFile>> OpenExclusive(const std::string& path) const override {
        return Open(path, 0);
    }

    Result<std::unique_ptr<InputFile>> OpenForReading(const std::string& path) const override {
        return Open(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    }

    Result<std::unique_ptr<StagedFile>> CreateStaged(const std::string& path) const override {
        return CreateStagedFile(path);
    }

    Status PublishTemporary(const std::string& temporary, const std::string& path) const override {
        return MoveDurably(temporary, path, true);
    }

    Status KeepAs(const std::string& from, const std::string& to) const override {
        return CopyDurably(from, to);
    }

    Result<std::unique_ptr<AppendFile>> OpenAppend(const std::string& path,
                                                   std::uint64_t keep) const override {
        return OpenAppendFile(path, keep);
    }

    Status RemoveFile(const std::string& path) const override {
        if (!::DeleteFileA(path.c_str())) {
            return LastSystemFailure();
        }
        return {};
    }

    // The volume and the file's index on it, its size and last-write time.
    // A control that writes X.DAT anew in place keeps the index but not the
    // time; one that makes a new file changes both.
    Result<std::string> FileIdentity(const std::string& path) const override {
        UniqueHandle handle(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!handle || !::GetFileInformationByHandle(handle.get(), &info)) {
            return LastSystemFailure();
        }
        const auto joined = [](DWORD high, DWORD low) {
            return std::to_string((static_cast<unsigned long long>(high) << 32) | low);
        };
        return std::to_string(info.dwVolumeSerialNumber) + ":" +
               joined(info.nFileIndexHigh, info.nFileIndexLow) + ":" +
               joined(info.nFileSizeHigh, info.nFileSizeLow) + ":" +
               joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    }

    std::vector<std::string> ListDirectory(const std::string& path) const override {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found{};
        const HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
        return names;
    }

    LocalDateTime LocalTime() const override {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    }

    std::int64_t SystemTimeMs() const override {
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        // Hundreds of nanoseconds since 1601, to milliseconds since 1970.
        const std::uint64_t ticks =
            (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        return static_cast<std::int64_t>(ticks / 10000) - 11644473600000LL;
    }

    void ReleaseFreeMemory() const override { _heapmin(); }

    std::u16string WidePath(const std::string& path) const override {
        if (path.empty()) {
            return {};
        }
        const int length = static_cast<int>(path.size());
        const int size = ::MultiByteToWideChar(CP_ACP, 0, path.data(), length, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(size), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, path.data(), length, wide.data(), size);
        return std::u16string(wide.begin(), wide.end());
    }

  private:
    static Result<std::unique_ptr<InputFile>> Open(const std::string& path, DWORD sharing) {
        UniqueHandle handle(::CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle) {
            return LastSystemFailure();
        }
        return std::unique_ptr<InputFile>(std::make_unique<Win32InputFile>(std::move(handle)));
    }
};

}  // namespace

const Platform& NativePlatform() {
    static const Win32Platform platform;
    return platform;
}

char UserDecimalSeparator() {
    char separator[8] = {};
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator) < 2) {
        return '.';
    }
    return separator[0];
}

// The console shows code page 1252 bytes as they are.
std::string TerminalText(std::string_view cp1252) {
    return std::string(cp1252);
}

}  // namespace vorlund
