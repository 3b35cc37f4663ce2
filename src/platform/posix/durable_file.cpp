#include "platform/posix/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>

#include "platform/posix/file_size_limit.h"
#include "platform/posix/system_error_text.h"
#include "platform/posix/unique_fd.h"

namespace vorlund {
namespace {

// How a file system says that it cannot flush a directory at all, as some
// network, virtual and FUSE file systems do (EBADF too: the descriptor was
// just opened, so it can only mean that directories are not flushed there).
// SQLite and PostgreSQL go on after these; an I/O error is a real failure.
bool FlushUnsupported(int error) {
    constexpr int kUnsupported[] = {EINVAL, ENOTSUP, EOPNOTSUPP, ENOSYS, EBADF};
    return std::find(std::begin(kUnsupported), std::end(kUnsupported), error) !=
           std::end(kUnsupported);
}

// How link() says that this file system, or these two places on it, cannot
// have a second name for a file: FAT and exFAT answer EPERM, a folder on
// another mount EXDEV. A copy does what the link would have done.
bool LinkUnsupported(int error) {
    constexpr int kUnsupported[] = {EPERM, ENOTSUP, EOPNOTSUPP, ENOSYS, EXDEV, EMLINK};
    return std::find(std::begin(kUnsupported), std::end(kUnsupported), error) !=
           std::end(kUnsupported);
}

Status WriteAll(SystemCalls& calls, int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = calls.Write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return SystemFailure(written < 0 ? errno : EIO);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

class PosixStagedFile final : public StagedFile {
  public:
    PosixStagedFile(const DiskAccess& disk, UniqueFd fd, std::string temporary, std::string path)
        : disk_(disk),
          fd_(std::move(fd)),
          temporary_(std::move(temporary)),
          path_(std::move(path)) {}

    ~PosixStagedFile() override {
        fd_.reset();
        if (!published_ && !keep_) {
            disk_.calls.Unlink(temporary_.c_str());
        }
    }

    Status Write(std::string_view bytes) override {
        return WriteAll(disk_.calls, fd_.get(), bytes);
    }

    Status Finish() override {
        if (disk_.calls.Fsync(fd_.get()) != 0) {
            return SystemFailure(errno);
        }
        if (::close(fd_.release()) != 0) {
            return SystemFailure(errno);
        }
        return SyncDirectory(disk_, DirectoryOf(temporary_));
    }

    Status Publish(Placement placement) override {
        if (placement == Placement::kReplace) {
            if (disk_.calls.Rename(temporary_.c_str(), path_.c_str()) != 0) {
                return SystemFailure(errno);
            }
        } else if (Status placed = PlaceNew(); !placed) {
            return placed;
        }
        published_ = true;
        return SyncDirectory(disk_, DirectoryOf(path_));
    }

    bool Moved() const override { return published_; }
    const std::string& TemporaryPath() const override { return temporary_; }
    void KeepTemporary() override { keep_ = true; }

  private:
    // A link fails rather than replace a file of that name. Where the file
    // system has no links, the name is moved once it is seen to be free:
    // between the look and the move only another writer in the same folder
    // could take it, and the folders given new files (the kept deliveries')
    // have none but this service.
    Status PlaceNew() {
        if (disk_.calls.Link(temporary_.c_str(), path_.c_str()) == 0) {
            disk_.calls.Unlink(temporary_.c_str());
            return {};
        }
        const int error = errno;
        if (!LinkUnsupported(error)) {
            return SystemFailure(error);
        }
        struct stat info {};
        if (::lstat(path_.c_str(), &info) == 0) {
            return SystemFailure(EEXIST);
        }
        if (disk_.calls.Rename(temporary_.c_str(), path_.c_str()) != 0) {
            return SystemFailure(errno);
        }
        return {};
    }

    DiskAccess disk_;
    UniqueFd fd_;
    std::string temporary_;
    std::string path_;
    bool published_ = false;
    bool keep_ = false;
};

class PosixAppendFile final : public AppendFile {
  public:
    PosixAppendFile(SystemCalls& calls, UniqueFd fd, off_t size)
        : calls_(calls), fd_(std::move(fd)), size_(size) {}

    // A record that failed on its way may stand in the file in part, or
    // whole but unflushed; it is cut off again, or a reader would take it
    // for a record, or stop at it and miss every record after it. A log
    // that cannot be cut back takes no further records.
    Status Append(std::string_view record) override {
        if (broken_) {
            return Failure{"an earlier record could not be taken back"};
        }
        Status appended = WriteAll(calls_, fd_.get(), record);
        if (appended && calls_.Fsync(fd_.get()) != 0) {
            appended = SystemFailure(errno);
        }
        if (!appended) {
            broken_ = calls_.Ftruncate(fd_.get(), size_) != 0 || calls_.Fsync(fd_.get()) != 0;
            return appended;
        }
        size_ += static_cast<off_t>(record.size());
        return {};
    }

  private:
    SystemCalls& calls_;
    UniqueFd fd_;
    off_t size_;
    bool broken_ = false;
};

// `to` made a copy of what `source` holds, written whole and flushed under a
// temporary name before it takes its name: a name in the kept folder always
// holds a whole delivery, whenever the power goes.
Status CopyInto(const DiskAccess& disk, int source, const std::string& to) {
    Result<std::unique_ptr<StagedFile>> copy = CreateStagedFile(disk, to);
    if (!copy) {
        return Failure{copy.reason()};
    }
    char block[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(source, block, sizeof block);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return SystemFailure(errno);
        }
        if (count == 0) {
            break;
        }
        const std::string_view bytes(block, static_cast<std::size_t>(count));
        if (Status written = (*copy)->Write(bytes); !written) {
            return written;
        }
    }
    if (Status finished = (*copy)->Finish(); !finished) {
        return finished;
    }
    Status published = (*copy)->Publish(StagedFile::Placement::kNew);
    if (!published && (*copy)->Moved()) {
        disk.calls.Unlink(to.c_str());
    }
    return published;
}

}  // namespace

SystemCalls& RealSystemCalls() {
    static SystemCalls calls;
    return calls;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

Failure SystemFailure(int error) {
    std::string text = SystemErrorText(error);
    // The system's text does not say whose limit it is, nor how large.
    const std::optional<std::uint64_t> limit = error == EFBIG ? FileSizeLimit() : std::nullopt;
    if (limit) {
        text += " (RLIMIT_FSIZE: the service may write no file larger than " +
                std::to_string(*limit) + " bytes)";
    }
    return Failure{std::move(text)};
}

Status SyncDirectory(const DiskAccess& disk, const std::string& directory) {
    UniqueFd fd(disk.calls.Open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!fd) {
        return SystemFailure(errno);
    }
    if (disk.calls.Fsync(fd.get()) != 0) {
        const int error = errno;
        if (!FlushUnsupported(error)) {
            return SystemFailure(error);
        }
        disk.observer.DirectoryNotFlushed(directory, SystemErrorText(error));
    }
    return {};
}

Result<std::unique_ptr<StagedFile>> CreateStagedFile(const DiskAccess& disk,
                                                     const std::string& path) {
    const std::string prefix =
        DirectoryOf(path) + "/." + NameOf(path) + "." + std::to_string(::getpid());
    // A name left by an earlier process of the same number is passed over.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = prefix + "-" + std::to_string(attempt) + ".tmp";
        UniqueFd fd(
            disk.calls.Open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd) {
            return std::unique_ptr<StagedFile>(
                std::make_unique<PosixStagedFile>(disk, std::move(fd), std::move(temporary), path));
        }
        if (errno != EEXIST) {
            return SystemFailure(errno);
        }
    }
    return SystemFailure(EEXIST);
}

Status PublishDurably(const DiskAccess& disk, const std::string& temporary,
                      const std::string& path) {
    if (disk.calls.Rename(temporary.c_str(), path.c_str()) != 0) {
        return SystemFailure(errno);
    }
    return SyncDirectory(disk, DirectoryOf(path));
}

Status KeepDurably(const DiskAccess& disk, const std::string& from, const std::string& to) {
    if (disk.calls.Link(from.c_str(), to.c_str()) == 0) {
        if (Status synced = SyncDirectory(disk, DirectoryOf(to)); !synced) {
            disk.calls.Unlink(to.c_str());
            return synced;
        }
        return {};
    }
    const int error = errno;
    if (!LinkUnsupported(error)) {
        return SystemFailure(error);
    }
    disk.observer.HardLinksRefused(DirectoryOf(to), SystemErrorText(error));
    UniqueFd source(disk.calls.Open(from.c_str(), O_RDONLY | O_CLOEXEC, 0));
    struct stat info {};
    if (!source || ::fstat(source.get(), &info) != 0) {
        return SystemFailure(errno);
    }
    Status copied = CopyInto(disk, source.get(), to);
    if (!copied) {
        // What the operator must free, should the copy have found no room.
        return Failure{copied.reason() + " (no hard links here: the copy needs " +
                       std::to_string(info.st_size) + " bytes free in " + DirectoryOf(to) + ")"};
    }
    return copied;
}

Result<std::unique_ptr<AppendFile>> OpenAppendFile(const DiskAccess& disk, const std::string& path,
                                                   std::uint64_t keep) {
    SystemCalls& calls = disk.calls;
    struct stat info {};
    const bool existed = ::stat(path.c_str(), &info) == 0;
    UniqueFd fd(calls.Open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!fd) {
        return SystemFailure(errno);
    }
    if (!existed) {
        if (Status synced = SyncDirectory(disk, DirectoryOf(path)); !synced) {
            return Failure{synced.reason()};
        }
    } else if (static_cast<std::uint64_t>(info.st_size) > keep) {
        if (calls.Ftruncate(fd.get(), static_cast<off_t>(keep)) != 0 || calls.Fsync(fd.get()) != 0) {
            return SystemFailure(errno);
        }
    }
    const off_t size =
        existed ? std::min<off_t>(info.st_size, static_cast<off_t>(std::min<std::uint64_t>(
                                                     keep, std::numeric_limits<off_t>::max())))
                : 0;
#ifdef __linux__
    // Enough for thousands of ledger records on a disk that has since filled
    // up. Blocks set aside beyond the end are written into later without being
    // allocated then; a file system that cannot do it simply goes without.
    ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, 1024 * 1024);
#endif
    return std::unique_ptr<AppendFile>(
        std::make_unique<PosixAppendFile>(calls, std::move(fd), size));
}

}  // namespace vorlund
