// Who holds a lock, as far as the system tells, for the lines that report a
// serial line or an application directory held by another program.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

// The process that took a flock(2) lock on the file with this device and
// inode number, from a listing in the format of /proc/locks; nothing when
// the listing names none.
std::optional<pid_t> FlockHolderIn(std::string_view procLocks, dev_t device, ino_t inode);

// The same from the system's own listing, which a sandbox may hide
// (systemd's ProcSubset=pid): then nothing.
std::optional<pid_t> FlockHolder(dev_t device, ino_t inode);

// "minicom, pid 1234", or "vorlund, pid 1234, vorlund@cradle2.service"
// for a process of a systemd service; "pid 1234" when the process's name
// cannot be seen (another user's process under ProtectProc=invisible).
std::string DescribeProcess(pid_t pid);

// The systemd service named in a listing in the format of /proc/PID/cgroup;
// empty when it names none.
std::string UnitIn(std::string_view cgroups);

}  // namespace vorlund
