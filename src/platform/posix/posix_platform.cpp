// The POSIX implementation of the platform layer: native Linux builds, the
// headless service and the fast tests.
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "common/cp1252.h"
#include "platform/platform.h"
#include "platform/posix/durable_file.h"
#include "platform/posix/system_error_text.h"
#include "platform/posix/unique_fd.h"
#include "platform/read_to_end.h"

namespace vorlund {
namespace {

class PosixInputFile final : public InputFile {
  public:
    explicit PosixInputFile(UniqueFd fd) : fd_(std::move(fd)) {}

    std::int64_t Read(void* buffer, std::size_t size) override {
        ssize_t count = 0;
        do {
            count = ::read(fd_.get(), buffer, size);
        } while (count < 0 && errno == EINTR);
        return count;
    }

  private:
    UniqueFd fd_;
};

// POSIX has no share modes, so a consumer could read an export while it is
// being written. It is written under a hidden temporary name in the same
// directory and moved into place whole: renamed over what is there, or, for
// a file that must be new, linked to its name, which fails rather than
// replace a file.
class PosixOutputFile final : public OutputFile {
  public:
    enum class Placement { kReplace, kNew };

    PosixOutputFile(UniqueFd fd, std::string temporaryPath, std::string finalPath,
                    Placement placement)
        : fd_(std::move(fd)),
          temporaryPath_(std::move(temporaryPath)),
          finalPath_(std::move(finalPath)),
          placement_(placement) {}

    ~PosixOutputFile() override {
        if (!committed_) {
            fd_.reset();
            ::unlink(temporaryPath_.c_str());
        }
    }

    bool Write(const void* data, std::size_t size) override {
        return WriteAll(fd_.get(), {static_cast<const char*>(data), size}) == 0;
    }

    // The consumer may pick the export up and the terminal forget its data
    // the moment it appears, so it is on disk before it is moved into
    // place, and its name is on disk before success is reported. A file
    // whose name cannot be made durable is taken away again: a failure
    // leaves nothing behind, whatever the step.
    bool Commit() override {
        if (::fsync(fd_.get()) != 0 || ::close(fd_.release()) != 0) {
            return false;
        }
        if (placement_ == Placement::kReplace) {
            if (::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) {
                return false;
            }
        } else {
            if (::link(temporaryPath_.c_str(), finalPath_.c_str()) != 0) {
                return false;
            }
            ::unlink(temporaryPath_.c_str());
        }
        committed_ = true;
        if (!SyncDirectory(DirectoryOf(finalPath_))) {
            ::unlink(finalPath_.c_str());
            return false;
        }
        return true;
    }

  private:
    UniqueFd fd_;
    std::string temporaryPath_;
    std::string finalPath_;
    Placement placement_;
    bool committed_ = false;
};

class PosixPlatform final : public Platform {
  public:
    char PathSeparator() const override { return '/'; }

    std::string ExecutablePath() const override {
        std::string path(4096, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        path.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        return path;
    }

    bool IsDirectory(const std::string& path) const override {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }

    bool MakeDirectory(const std::string& path) const override {
        return ::mkdir(path.c_str(), 0777) == 0;
    }

    bool ReadSettingsFile(const std::string& path, std::string& content) const override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd)
            return false;
        PosixInputFile file(std::move(fd));
        return ReadToEnd(file, content);
    }

    bool FileExists(const std::string& path) const override {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
    }

    std::unique_ptr<InputFile> OpenExclusive(const std::string& path) const override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return nullptr;
        }
        return std::make_unique<PosixInputFile>(std::move(fd));
    }

    std::unique_ptr<OutputFile> CreateExport(const std::string& path) const override {
        if (IsDirectory(path)) {
            return nullptr;
        }
        std::string temporary;
        UniqueFd fd = CreateTemporaryBeside(path, temporary);
        if (!fd) {
            return nullptr;
        }
        return std::make_unique<PosixOutputFile>(std::move(fd), std::move(temporary), path,
                                                 PosixOutputFile::Placement::kReplace);
    }

    bool CopyToNewFile(const std::string& from, const std::string& to) const override {
        UniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
        std::string temporary;
        UniqueFd fd = source ? CreateTemporaryBeside(to, temporary) : UniqueFd();
        if (!fd) {
            return false;
        }
        PosixInputFile input(std::move(source));
        PosixOutputFile copy(std::move(fd), std::move(temporary), to,
                             PosixOutputFile::Placement::kNew);
        return CopyToEnd(input, copy) && copy.Commit();
    }

    LocalDateTime LocalTime() const override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        return {static_cast<unsigned>(local.tm_year + 1900),
                static_cast<unsigned>(local.tm_mon + 1),
                static_cast<unsigned>(local.tm_mday),
                static_cast<unsigned>(local.tm_hour),
                static_cast<unsigned>(local.tm_min),
                static_cast<unsigned>(std::min(local.tm_sec, 59))};
    }

    // The serial control turns the text back into exactly these bytes.
    std::u16string WidePath(const std::string& path) const override { return Cp1252ToUtf16(path); }

    std::string LastErrorText() const override { return SystemErrorText(errno); }
};

}  // namespace

Platform& NativePlatform() {
    static PosixPlatform platform;
    return platform;
}

char UserDecimalSeparator() {
    // Asks the environment's locale directly; the process's own C locale is
    // never switched, so no other number conversion can be affected.
    const locale_t locale = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        return '.';
    }
    const char* radix = ::nl_langinfo_l(RADIXCHAR, locale);
    const char separator =
        radix != nullptr && radix[0] != '\0' && radix[1] == '\0' ? radix[0] : '.';
    ::freelocale(locale);
    return separator;
}

std::string TerminalText(std::string_view cp1252) {
    return Cp1252ToUtf8(cp1252);
}

}  // namespace vorlund
