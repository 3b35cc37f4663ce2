// System calls for a crash walk: the n-th call of the durable kind (open,
// write, fsync, rename, link, unlink, truncate) fails, or ends the process
// right there as a crash would, or as a power cut would, which also throws
// away what was not yet flushed: file contents written since their last
// fsync, and names made or moved in a directory since its last fsync. What a
// process killed in its tracks leaves, the page cache keeps; what a power cut
// leaves is only what was flushed. The calls can also answer as a file
// system that cannot do everything answers: FAT and exFAT refuse links, some
// shares refuse to flush a directory.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "platform/posix/system_calls.h"

namespace vorlund::testing {

// What a file system refuses, every time, as it refuses it.
struct FileSystemRefusals {
    bool links = false;       // link() answers EPERM
    std::string unflushable;  // fsync() of a directory under this one (or it) answers EINVAL
};

class WalkingSystemCalls final : public SystemCalls {
  public:
    using Refusals = FileSystemRefusals;
    enum class Mode { kFail, kCrash, kPowerCut };
    // The exit status of a process ended at its step.
    static constexpr int kEnded = 77;

    // `step`: 1-based; 0 walks no step. `scratch`: a directory for the
    // names a power cut must bring back, on the same file system.
    WalkingSystemCalls(int step, Mode mode, std::string scratch, Refusals refusals = {});

    // The calls made so far.
    int Calls() const { return calls_; }
    // The step was reached (and failed).
    bool Reached() const { return calls_ >= step_ && step_ > 0; }

    int Open(const char* path, int flags, mode_t mode) override;
    ssize_t Write(int fd, const void* data, size_t size) override;
    int Fsync(int fd) override;
    int Rename(const char* from, const char* to) override;
    int Link(const char* from, const char* to) override;
    int Unlink(const char* path) override;
    int Ftruncate(int fd, off_t length) override;

  private:
    // Counts the call; true when it is the one to fail. A crash or power
    // cut does not return.
    bool Step();
    void Dirty(int fd);
    void LoseWhatWasNotFlushed();

    struct Change {
        enum class Kind { kCreate, kRename, kLink } kind;
        std::string from;
        std::string to;
        std::string saved;  // kRename over a file: that file, under another name
    };

    int step_;
    Mode mode_;
    std::string scratch_;
    Refusals refusals_;
    int calls_ = 0;
    std::map<int, std::string> paths_;      // open descriptors
    std::map<std::string, off_t> flushed_;  // written files: their size when last flushed
    std::vector<Change> unflushed_;         // directory changes not yet flushed
};

}  // namespace vorlund::testing
