// The POSIX implementation of the platform layer: native Linux builds, the
// headless service and the fast tests.
#include "platform/posix/posix_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "common/cp1252.h"
#include "platform/posix/durable_file.h"
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

class PosixPlatform final : public Platform {
  public:
    PosixPlatform(SystemCalls& calls, FileSystemObserver& observer) : disk_{calls, observer} {}

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

    Status MakeDirectory(const std::string& path) const override {
        if (::mkdir(path.c_str(), 0777) != 0) {
            return SystemFailure(errno);
        }
        return {};
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

    // POSIX has no share modes; an advisory lock keeps out whoever asks for
    // one, and a lock held by another program counts as the file being held.
    Result<std::unique_ptr<InputFile>> OpenExclusive(const std::string& path) const override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return SystemFailure(errno);
        }
        return std::unique_ptr<InputFile>(std::make_unique<PosixInputFile>(std::move(fd)));
    }

    Result<std::unique_ptr<InputFile>> OpenForReading(const std::string& path) const override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) {
            return SystemFailure(errno);
        }
        return std::unique_ptr<InputFile>(std::make_unique<PosixInputFile>(std::move(fd)));
    }

    Result<std::unique_ptr<StagedFile>> CreateStaged(const std::string& path) const override {
        if (IsDirectory(path)) {
            return SystemFailure(EISDIR);
        }
        return CreateStagedFile(disk_, path);
    }

    Status PublishTemporary(const std::string& temporary, const std::string& path) const override {
        return PublishDurably(disk_, temporary, path);
    }

    // A hard link: no data blocks needed, and the kept name keeps these very
    // bytes when the next delivery renames a new file over X.DAT. FAT and
    // exFAT have none; there it is a copy, which needs the room.
    Status KeepAs(const std::string& from, const std::string& to) const override {
        return KeepDurably(disk_, from, to);
    }

    Result<std::unique_ptr<AppendFile>> OpenAppend(const std::string& path,
                                                   std::uint64_t keep) const override {
        return OpenAppendFile(disk_, path, keep);
    }

    Status RemoveFile(const std::string& path) const override {
        if (disk_.calls.Unlink(path.c_str()) != 0) {
            return SystemFailure(errno);
        }
        return {};
    }

    // The inode number is left out: file systems served through FUSE (the
    // exFAT of an SD card, among them) number their files anew at each
    // mount, and a restart would take the delivery in X.DAT for another.
    // Nanoseconds of the last write tell two writes apart well enough.
    Result<std::string> FileIdentity(const std::string& path) const override {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            return SystemFailure(errno);
        }
        return std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
               std::to_string(info.st_mtim.tv_nsec);
    }

    std::vector<std::string> ListDirectory(const std::string& path) const override {
        std::vector<std::string> names;
        DIR* directory = ::opendir(path.c_str());
        if (directory == nullptr) {
            return names;
        }
        while (const dirent* entry = ::readdir(directory)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(directory);
        return names;
    }

    LocalDateTime LocalTime() const override { return LocalDateTimeOf(std::time(nullptr)); }

    std::optional<LocalDateTime> LocalTimeAt(std::int64_t ms) const override {
        return LocalDateTimeOf(static_cast<std::time_t>(ms / 1000));
    }

    std::int64_t SystemTimeMs() const override {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }

    void ReleaseFreeMemory() const override {
#ifdef __GLIBC__
        // glibc keeps freed heap pages mapped; a summing table of millions of
        // codes would otherwise stay resident until the service ends.
        ::malloc_trim(0);
#endif
    }

    // The serial control turns the text back into exactly these bytes.
    std::u16string WidePath(const std::string& path) const override { return Cp1252ToUtf16(path); }

  private:
    static LocalDateTime LocalDateTimeOf(std::time_t instant) {
        std::tm local{};
        ::localtime_r(&instant, &local);
        return {static_cast<unsigned>(local.tm_year + 1900),
                static_cast<unsigned>(local.tm_mon + 1),
                static_cast<unsigned>(local.tm_mday),
                static_cast<unsigned>(local.tm_hour),
                static_cast<unsigned>(local.tm_min),
                static_cast<unsigned>(std::min(local.tm_sec, 59))};
    }

    DiskAccess disk_;
};

}  // namespace

std::unique_ptr<Platform> MakePosixPlatform(SystemCalls& calls, FileSystemObserver& observer) {
    return std::make_unique<PosixPlatform>(calls, observer);
}

const Platform& NativePlatform() {
    static const PosixPlatform platform(RealSystemCalls(), NoFileSystemObserver());
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
