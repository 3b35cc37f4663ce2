#include "platform/posix/device_lock_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/posix/durable_file.h"
#include "platform/posix/lock_holder.h"
#include "platform/posix/unique_fd.h"

namespace vorlund {
namespace {

enum class LockState { kAbsent, kMine, kStale, kHeld };

struct Inspection {
    LockState state = LockState::kAbsent;
    std::optional<pid_t> pid;
};

Inspection Inspect(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        // A lock file we may not read is still somebody's lock.
        return {errno == ENOENT ? LockState::kAbsent : LockState::kHeld, std::nullopt};
    }
    char buffer[64];
    ssize_t count = 0;
    do {
        count = ::read(fd.get(), buffer, sizeof buffer);
    } while (count < 0 && errno == EINTR);
    const std::optional<pid_t> pid =
        ParseLockFilePid({buffer, count > 0 ? static_cast<std::size_t>(count) : 0});
    if (!pid) {
        return {LockState::kHeld, std::nullopt};
    }
    if (*pid == ::getpid()) {
        return {LockState::kMine, pid};
    }
    // EPERM: the process lives, under another user.
    if (::kill(*pid, 0) == 0 || errno == EPERM) {
        return {LockState::kHeld, pid};
    }
    return {LockState::kStale, pid};
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The device a name leads to, links resolved; empty when there is none.
std::string RealDevice(const std::string& device) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(device.c_str(), nullptr),
                                                           &std::free);
    return real ? std::string(real.get()) : std::string();
}

std::string LockPath(const std::string& directory, const std::string& device) {
    return directory + "/LCK.." + BaseName(device);
}

std::string Describe(const Inspection& inspection, const std::string& path) {
    return inspection.pid ? DescribeProcess(*inspection.pid) : "lock file " + path;
}

}  // namespace

std::optional<pid_t> ParseLockFilePid(std::string_view content) {
    const auto start = content.find_first_not_of(' ');
    if (start != std::string_view::npos && content[start] >= '0' && content[start] <= '9') {
        long long value = 0;
        for (std::size_t i = start; i < content.size() && content[i] >= '0' && content[i] <= '9';
             ++i) {
            value = value * 10 + (content[i] - '0');
            if (value > INT_MAX) {
                return std::nullopt;
            }
        }
        return value > 0 ? std::optional<pid_t>(static_cast<pid_t>(value)) : std::nullopt;
    }
    if (content.size() == sizeof(std::int32_t)) {
        std::int32_t value = 0;
        std::memcpy(&value, content.data(), sizeof value);
        return value > 0 ? std::optional<pid_t>(value) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> DeviceLockFile::HeldBy(const std::string& directory,
                                                  const std::string& device) {
    std::vector<std::string> paths{LockPath(directory, device)};
    const std::string real = RealDevice(device);
    if (!real.empty() && LockPath(directory, real) != paths.front()) {
        paths.push_back(LockPath(directory, real));
    }
    for (const std::string& path : paths) {
        const Inspection inspection = Inspect(path);
        if (inspection.state == LockState::kHeld) {
            return Describe(inspection, path);
        }
        if (inspection.state == LockState::kStale) {
            ::unlink(path.c_str());
        }
    }
    return std::nullopt;
}

DeviceLockFile DeviceLockFile::Make(const std::string& directory, const std::string& device,
                                    std::optional<std::string>& heldBy) {
    heldBy.reset();
    const std::string real = RealDevice(device);
    if (real.empty() || real.rfind("/dev/pts/", 0) == 0) {
        return {};
    }
    const std::string path = LockPath(directory, real);
    // Written whole under another name and linked into place, so that no
    // reader ever sees a lock file without its process id.
    Result<std::unique_ptr<StagedFile>> file =
        CreateStagedFile({RealSystemCalls(), NoFileSystemObserver()}, path);
    if (!file) {
        return {};
    }
    const std::string& temporary = (*file)->TemporaryPath();
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = (*file)->Write({text, static_cast<std::size_t>(length)}) &&
                         ::chmod(temporary.c_str(), 0644) == 0;
    DeviceLockFile made;
    // A stale file in the way is removed, and the link tried once more.
    for (int attempt = 0; written && attempt < 2; ++attempt) {
        if (::link(temporary.c_str(), path.c_str()) == 0) {
            made.path_ = path;
            break;
        }
        if (errno != EEXIST) {
            break;
        }
        const Inspection inspection = Inspect(path);
        if (inspection.state == LockState::kHeld) {
            heldBy = Describe(inspection, path);
            break;
        }
        if (inspection.state == LockState::kMine) {
            break;
        }
        if (inspection.state == LockState::kStale) {
            ::unlink(path.c_str());
        }
    }
    // The temporary name goes with `file`.
    return made;
}

DeviceLockFile& DeviceLockFile::operator=(DeviceLockFile&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

void DeviceLockFile::Release() {
    if (!path_.empty() && Inspect(path_).state == LockState::kMine) {
        ::unlink(path_.c_str());
    }
    path_.clear();
}

}  // namespace vorlund
