#include "platform/win32/win32_files.h"

namespace vorlund {
namespace {

// Reads and writes of more than this are split: the calls take a DWORD.
constexpr std::size_t kLargestCall = 0x40000000;

std::string NameOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string DirectoryPrefixOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

class Win32StagedFile final : public StagedFile {
  public:
    Win32StagedFile(UniqueHandle handle, std::string temporary, std::string path)
        : handle_(std::move(handle)), temporary_(std::move(temporary)), path_(std::move(path)) {}

    ~Win32StagedFile() override {
        handle_.reset();
        if (!moved_ && !keep_) {
            ::DeleteFileA(temporary_.c_str());
        }
    }

    Status Write(std::string_view bytes) override { return WriteAllTo(handle_.get(), bytes); }

    Status Finish() override {
        if (!::FlushFileBuffers(handle_.get()) || !::CloseHandle(handle_.release())) {
            return LastSystemFailure();
        }
        return {};
    }

    Status Publish(Placement placement) override {
        Status moved = MoveDurably(temporary_, path_, placement == Placement::kReplace);
        moved_ = moved.ok();
        return moved;
    }
    bool Moved() const override { return moved_; }
    const std::string& TemporaryPath() const override { return temporary_; }
    void KeepTemporary() override { keep_ = true; }

  private:
    UniqueHandle handle_;
    std::string temporary_;
    std::string path_;
    bool moved_ = false;
    bool keep_ = false;
};

class Win32AppendFile final : public AppendFile {
  public:
    Win32AppendFile(UniqueHandle handle, LARGE_INTEGER size)
        : handle_(std::move(handle)), size_(size) {}

    // A record that failed on its way is cut off again, so that no reader
    // takes it, or stops at it; a log that cannot be cut back takes no more.
    Status Append(std::string_view record) override {
        if (broken_) {
            return Failure{"an earlier record could not be taken back"};
        }
        Status appended = ::SetFilePointerEx(handle_.get(), size_, nullptr, FILE_BEGIN)
                              ? WriteAllTo(handle_.get(), record)
                              : Status(LastSystemFailure());
        if (appended && !::FlushFileBuffers(handle_.get())) {
            appended = LastSystemFailure();
        }
        if (!appended) {
            broken_ = !::SetFilePointerEx(handle_.get(), size_, nullptr, FILE_BEGIN) ||
                      !::SetEndOfFile(handle_.get()) || !::FlushFileBuffers(handle_.get());
            return appended;
        }
        size_.QuadPart += static_cast<LONGLONG>(record.size());
        return {};
    }

  private:
    UniqueHandle handle_;
    LARGE_INTEGER size_;
    bool broken_ = false;
};

}  // namespace

Failure LastSystemFailure() {
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
        return Failure{"error " + std::to_string(error)};
    }
    return Failure{std::string(text, length)};
}

std::int64_t Win32InputFile::Read(void* buffer, std::size_t size) {
    DWORD count = 0;
    const auto request = static_cast<DWORD>(size > kLargestCall ? kLargestCall : size);
    if (!::ReadFile(handle_.get(), buffer, request, &count, nullptr)) {
        return -1;
    }
    return count;
}

Status WriteAllTo(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto request =
            static_cast<DWORD>(bytes.size() > kLargestCall ? kLargestCall : bytes.size());
        if (!::WriteFile(handle, bytes.data(), request, &written, nullptr)) {
            return LastSystemFailure();
        }
        if (written == 0) {
            return Failure{"nothing could be written"};
        }
        bytes.remove_prefix(written);
    }
    return {};
}

Result<std::unique_ptr<StagedFile>> CreateStagedFile(const std::string& path) {
    const std::string prefix = DirectoryPrefixOf(path) + "." + NameOf(path) + "." +
                               std::to_string(::GetCurrentProcessId());
    // A name left by an earlier process of the same number is passed over.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = prefix + "-" + std::to_string(attempt) + ".tmp";
        // No sharing: nobody reads it before it is whole.
        UniqueHandle handle(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle) {
            return std::unique_ptr<StagedFile>(std::make_unique<Win32StagedFile>(
                std::move(handle), std::move(temporary), path));
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) {
            return LastSystemFailure();
        }
    }
    return Failure{prefix + ": every temporary name is taken"};
}

Status MoveDurably(const std::string& from, const std::string& to, bool replace) {
    // NTFS journals the move; write-through returns once it is on disk.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExA(from.c_str(), to.c_str(), flags)) {
        return LastSystemFailure();
    }
    return {};
}

// A real copy: the control may rewrite X.DAT in place, which a second name
// for the same file would follow.
Status CopyDurably(const std::string& from, const std::string& to) {
    UniqueHandle source(::CreateFileA(from.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) {
        return LastSystemFailure();
    }
    // Written under a temporary name and given its own only once flushed:
    // a crash in the middle must not leave part of a delivery under the
    // kept name, which a restart would take for the whole.
    Result<std::unique_ptr<StagedFile>> copy = CreateStagedFile(to);
    if (!copy) {
        return Failure{copy.reason()};
    }
    Win32InputFile input(std::move(source));
    char block[64 * 1024];
    for (;;) {
        const std::int64_t count = input.Read(block, sizeof block);
        if (count < 0) {
            return LastSystemFailure();
        }
        if (count == 0) {
            break;
        }
        if (Status written =
                (*copy)->Write(std::string_view(block, static_cast<std::size_t>(count)));
            !written) {
            return written;
        }
    }
    if (Status finished = (*copy)->Finish(); !finished) {
        return finished;
    }
    // Fails rather than replace a file of that name.
    return (*copy)->Publish(StagedFile::Placement::kNew);
}

Result<std::unique_ptr<AppendFile>> OpenAppendFile(const std::string& path, std::uint64_t keep) {
    UniqueHandle handle(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        return LastSystemFailure();
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle.get(), &size)) {
        return LastSystemFailure();
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > keep) {
        size.QuadPart = static_cast<LONGLONG>(keep);
        if (!::SetFilePointerEx(handle.get(), size, nullptr, FILE_BEGIN) ||
            !::SetEndOfFile(handle.get()) || !::FlushFileBuffers(handle.get())) {
            return LastSystemFailure();
        }
    }
    return std::unique_ptr<AppendFile>(std::make_unique<Win32AppendFile>(std::move(handle), size));
}

}  // namespace vorlund
