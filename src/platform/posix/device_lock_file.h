// The serial-device lock files that minicom and cu on Debian keep:
// LCK..<the device's base name> in /run/lock, holding the owner's process id
// as ten ASCII digits and a line end (the HDB UUCP format of the FHS). The
// kernel's flock(2) lock on the device, which picocom takes, is the service's
// own guard; these files are for the programs that look only at them, and
// they tell who holds a line.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

inline constexpr char kDeviceLockDirectory[] = "/run/lock";

// The process id a lock file names: the HDB text ("      1234\n", words
// after the digits allowed) or the older 4-byte binary form. Nothing for a
// file that names none (empty, or still being written).
std::optional<pid_t> ParseLockFilePid(std::string_view content);

class DeviceLockFile {
  public:
    // Who holds the line `device` by a lock file in `directory`: "minicom,
    // pid 1234", or the file's path when it names no process. Nothing when
    // no live process other than this one holds it; a stale file (its
    // process gone) is removed. The lock files of both the name given and
    // the device it leads to (a /dev/serial/by-id link) count.
    static std::optional<std::string> HeldBy(const std::string& directory,
                                             const std::string& device);

    // Makes this process's lock file for `device` in `directory`. When
    // another got there first, `heldBy` says who and nothing is made. A
    // directory that cannot be written gives no file and no refusal: the
    // flock(2) lock still guards the line. Pseudo-terminals get none: their
    // numbered names are no lasting devices.
    static DeviceLockFile Make(const std::string& directory, const std::string& device,
                               std::optional<std::string>& heldBy);

    DeviceLockFile() = default;
    DeviceLockFile(DeviceLockFile&& other) noexcept : path_(std::move(other.path_)) {
        other.path_.clear();
    }
    DeviceLockFile& operator=(DeviceLockFile&& other) noexcept;
    DeviceLockFile(const DeviceLockFile&) = delete;
    DeviceLockFile& operator=(const DeviceLockFile&) = delete;
    ~DeviceLockFile() { Release(); }

    // Removes the file, if it is still this process's.
    void Release();

  private:
    explicit DeviceLockFile(std::string path) : path_(std::move(path)) {}

    std::string path_;
};

}  // namespace vorlund
