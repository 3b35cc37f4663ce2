#include "testing/walking_system_calls.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/durable_file.h"

namespace vorlund::testing {

WalkingSystemCalls::WalkingSystemCalls(int step, Mode mode, std::string scratch,
                                       Refusals refusals)
    : step_(step), mode_(mode), scratch_(std::move(scratch)), refusals_(std::move(refusals)) {}

bool WalkingSystemCalls::Step() {
    if (++calls_ != step_) {
        return false;
    }
    if (mode_ == Mode::kFail) {
        errno = EIO;
        return true;
    }
    if (mode_ == Mode::kPowerCut) {
        LoseWhatWasNotFlushed();
    }
    ::_exit(kEnded);
}

int WalkingSystemCalls::Open(const char* path, int flags, mode_t mode) {
    if (Step()) {
        return -1;
    }
    struct stat before {};
    const bool existed = ::stat(path, &before) == 0;
    const int fd = ::open(path, flags, mode);
    if (fd >= 0) {
        paths_[fd] = path;
        if (!existed) {
            unflushed_.push_back({Change::Kind::kCreate, {}, path, {}});
        }
    }
    return fd;
}

void WalkingSystemCalls::Dirty(int fd) {
    const auto path = paths_.find(fd);
    struct stat info {};
    if (path != paths_.end() && !flushed_.count(path->second) && ::fstat(fd, &info) == 0) {
        flushed_[path->second] = info.st_size;
    }
}

ssize_t WalkingSystemCalls::Write(int fd, const void* data, size_t size) {
    if (Step()) {
        return -1;
    }
    Dirty(fd);
    return ::write(fd, data, size);
}

int WalkingSystemCalls::Ftruncate(int fd, off_t length) {
    if (Step()) {
        return -1;
    }
    Dirty(fd);
    return ::ftruncate(fd, length);
}

int WalkingSystemCalls::Fsync(int fd) {
    if (Step()) {
        return -1;
    }
    const auto path = paths_.find(fd);
    struct stat info {};
    if (path != paths_.end() && !refusals_.unflushable.empty() &&
        path->second.rfind(refusals_.unflushable, 0) == 0 && ::fstat(fd, &info) == 0 &&
        S_ISDIR(info.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int result = ::fsync(fd);
    if (result != 0 || path == paths_.end()) {
        return result;
    }
    flushed_.erase(path->second);
    // A flushed directory makes the changes of names in it durable.
    for (auto change = unflushed_.begin(); change != unflushed_.end();) {
        if (DirectoryOf(change->to) == path->second) {
            if (!change->saved.empty()) {
                ::unlink(change->saved.c_str());
            }
            change = unflushed_.erase(change);
        } else {
            ++change;
        }
    }
    return result;
}

int WalkingSystemCalls::Rename(const char* from, const char* to) {
    if (Step()) {
        return -1;
    }
    Change change{Change::Kind::kRename, from, to, {}};
    if (mode_ == Mode::kPowerCut && ::access(to, F_OK) == 0) {
        change.saved = scratch_ + "/saved-" + std::to_string(unflushed_.size());
        if (::link(to, change.saved.c_str()) != 0) {
            change.saved.clear();  // the file it replaces cannot come back
        }
    }
    const int result = ::rename(from, to);
    if (result == 0) {
        if (const auto dirty = flushed_.find(from); dirty != flushed_.end()) {
            flushed_[to] = dirty->second;
            flushed_.erase(dirty);
        }
        unflushed_.push_back(change);
    } else if (!change.saved.empty()) {
        ::unlink(change.saved.c_str());
    }
    return result;
}

int WalkingSystemCalls::Link(const char* from, const char* to) {
    if (Step()) {
        return -1;
    }
    if (refusals_.links) {
        errno = EPERM;
        return -1;
    }
    const int result = ::link(from, to);
    if (result == 0) {
        unflushed_.push_back({Change::Kind::kLink, from, to, {}});
    }
    return result;
}

int WalkingSystemCalls::Unlink(const char* path) {
    if (Step()) {
        return -1;
    }
    // A name taken away and brought back by a power cut is one of our own
    // temporary files, which a restart clears anyway: not modelled.
    return ::unlink(path);
}

void WalkingSystemCalls::LoseWhatWasNotFlushed() {
    for (const auto& [path, size] : flushed_) {
        // A file taken away since has nothing left to lose.
        if (::truncate(path.c_str(), size) != 0 && errno != ENOENT) {
            std::abort();
        }
    }
    for (auto change = unflushed_.rbegin(); change != unflushed_.rend(); ++change) {
        switch (change->kind) {
            case Change::Kind::kCreate:
            case Change::Kind::kLink:
                ::unlink(change->to.c_str());
                break;
            case Change::Kind::kRename:
                ::rename(change->to.c_str(), change->from.c_str());
                if (!change->saved.empty()) {
                    ::rename(change->saved.c_str(), change->to.c_str());
                }
                break;
        }
    }
}

}  // namespace vorlund::testing
