#include "platform/posix/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "platform/posix/system_error_text.h"
#include "platform/posix/unique_fd.h"

namespace vorlund {
namespace {

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
    PosixStagedFile(SystemCalls& calls, UniqueFd fd, std::string temporary, std::string path)
        : calls_(calls), fd_(std::move(fd)), temporary_(std::move(temporary)), path_(std::move(path)) {}

    ~PosixStagedFile() override {
        fd_.reset();
        if (!published_ && !keep_) {
            calls_.Unlink(temporary_.c_str());
        }
    }

    Status Write(std::string_view bytes) override { return WriteAll(calls_, fd_.get(), bytes); }

    Status Finish() override {
        if (calls_.Fsync(fd_.get()) != 0) {
            return SystemFailure(errno);
        }
        if (::close(fd_.release()) != 0) {
            return SystemFailure(errno);
        }
        return SyncDirectory(calls_, DirectoryOf(temporary_));
    }

    Status Publish(Placement placement) override {
        if (placement == Placement::kReplace) {
            if (calls_.Rename(temporary_.c_str(), path_.c_str()) != 0) {
                return SystemFailure(errno);
            }
        } else {
            // A link fails rather than replace a file of that name.
            if (calls_.Link(temporary_.c_str(), path_.c_str()) != 0) {
                return SystemFailure(errno);
            }
            calls_.Unlink(temporary_.c_str());
        }
        published_ = true;
        return SyncDirectory(calls_, DirectoryOf(path_));
    }

    bool Moved() const override { return published_; }
    const std::string& TemporaryPath() const override { return temporary_; }
    void KeepTemporary() override { keep_ = true; }

  private:
    SystemCalls& calls_;
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
    return Failure{SystemErrorText(error)};
}

Status SyncDirectory(SystemCalls& calls, const std::string& directory) {
    UniqueFd fd(calls.Open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!fd || calls.Fsync(fd.get()) != 0) {
        return SystemFailure(errno);
    }
    return {};
}

Result<std::unique_ptr<StagedFile>> CreateStagedFile(SystemCalls& calls, const std::string& path) {
    const std::string prefix =
        DirectoryOf(path) + "/." + NameOf(path) + "." + std::to_string(::getpid());
    // A name left by an earlier process of the same number is passed over.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = prefix + "-" + std::to_string(attempt) + ".tmp";
        UniqueFd fd(calls.Open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd) {
            return std::unique_ptr<StagedFile>(
                std::make_unique<PosixStagedFile>(calls, std::move(fd), std::move(temporary), path));
        }
        if (errno != EEXIST) {
            return SystemFailure(errno);
        }
    }
    return SystemFailure(EEXIST);
}

Status PublishDurably(SystemCalls& calls, const std::string& temporary, const std::string& path) {
    if (calls.Rename(temporary.c_str(), path.c_str()) != 0) {
        return SystemFailure(errno);
    }
    return SyncDirectory(calls, DirectoryOf(path));
}

Status LinkDurably(SystemCalls& calls, const std::string& from, const std::string& to) {
    if (calls.Link(from.c_str(), to.c_str()) != 0) {
        return SystemFailure(errno);
    }
    if (Status synced = SyncDirectory(calls, DirectoryOf(to)); !synced) {
        calls.Unlink(to.c_str());
        return synced;
    }
    return {};
}

Result<std::unique_ptr<AppendFile>> OpenAppendFile(SystemCalls& calls, const std::string& path,
                                                   std::uint64_t keep) {
    struct stat info {};
    const bool existed = ::stat(path.c_str(), &info) == 0;
    UniqueFd fd(calls.Open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!fd) {
        return SystemFailure(errno);
    }
    if (!existed) {
        if (Status synced = SyncDirectory(calls, DirectoryOf(path)); !synced) {
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
