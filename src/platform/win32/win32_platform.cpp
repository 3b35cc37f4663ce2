// The Windows implementation of the platform layer: the ANSI (*A) functions,
// so every path and text stays in the single-byte code page.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/read_to_end.h"
#include "platform/win32/unique_handle.h"

namespace vorlund {
namespace {

DWORD Attributes(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

class Win32InputFile final : public InputFile {
  public:
    explicit Win32InputFile(UniqueHandle handle) : handle_(std::move(handle)) {}

    std::int64_t Read(void* buffer, std::size_t size) override {
        DWORD count = 0;
        const auto request = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
        if (!::ReadFile(handle_.get(), buffer, request, &count, nullptr)) {
            return -1;
        }
        return count;
    }

  private:
    UniqueHandle handle_;
};

// Created with no sharing, so no consumer can open the export before it is
// complete; a failed one is deleted so that no half delivery is imported.
class Win32OutputFile final : public OutputFile {
  public:
    Win32OutputFile(UniqueHandle handle, std::string path)
        : handle_(std::move(handle)), path_(std::move(path)) {}

    ~Win32OutputFile() override {
        if (!committed_) {
            handle_.reset();
            ::DeleteFileA(path_.c_str());
        }
    }

    bool Write(const void* data, std::size_t size) override {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            DWORD written = 0;
            const auto request = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
            if (!::WriteFile(handle_.get(), bytes, request, &written, nullptr) || written == 0) {
                return false;
            }
            bytes += written;
            size -= written;
        }
        return true;
    }

    // The consumer may pick the export up and the terminal forget its data
    // once it is complete, so it reaches the disk before it is released.
    bool Commit() override {
        if (!::FlushFileBuffers(handle_.get())) {
            return false;
        }
        committed_ = ::CloseHandle(handle_.release()) != 0;
        return committed_;
    }

  private:
    UniqueHandle handle_;
    std::string path_;
    bool committed_ = false;
};

class Win32Platform final : public Platform {
  public:
    std::string LastErrorText() const override {
        const DWORD error = ::GetLastError();
        char text[512] = {};
        DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
        // The system's texts end in a full stop and a line end.
        while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                              text[length - 1] == '.' || text[length - 1] == ' ')) {
            --length;
        }
        if (length == 0) {
            return "error " + std::to_string(error);
        }
        return std::string(text, length);
    }

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

    bool MakeDirectory(const std::string& path) const override {
        return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
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

    std::unique_ptr<InputFile> OpenExclusive(const std::string& path) const override {
        UniqueHandle handle(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle)
            return nullptr;
        return std::make_unique<Win32InputFile>(std::move(handle));
    }

    std::unique_ptr<OutputFile> CreateExport(const std::string& path) const override {
        UniqueHandle handle(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle)
            return nullptr;
        return std::make_unique<Win32OutputFile>(std::move(handle), path);
    }

    bool CopyToNewFile(const std::string& from, const std::string& to) const override {
        UniqueHandle source(::CreateFileA(from.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!source) {
            return false;
        }
        // CREATE_NEW fails rather than replace a file of that name.
        UniqueHandle handle(::CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle) {
            return false;
        }
        Win32InputFile input(std::move(source));
        Win32OutputFile copy(std::move(handle), to);  // deletes itself unless committed
        return CopyToEnd(input, copy) && copy.Commit();
    }

    LocalDateTime LocalTime() const override {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    }

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
};

}  // namespace

Platform& NativePlatform() {
    static Win32Platform platform;
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
