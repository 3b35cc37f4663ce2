#include "platform/posix/lock_holder.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string>

#include "platform/posix/unique_fd.h"

namespace vorlund {
namespace {

// A small file of /proc, whole: its size is 0 to stat, so it is read to the
// end. Empty when it cannot be read.
std::string ReadProcFile(const std::string& path) {
    std::string content;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return content;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count > 0) {
            content.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return content;
        }
    }
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

// The next blank-separated word of `line`, taken off its front.
std::string_view NextWord(std::string_view& line) {
    const auto start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        line = {};
        return {};
    }
    line.remove_prefix(start);
    const std::string_view word = line.substr(0, line.find(' '));
    line.remove_prefix(word.size());
    return word;
}

}  // namespace

std::optional<pid_t> FlockHolderIn(std::string_view procLocks, dev_t device, ino_t inode) {
    // "1: FLOCK  ADVISORY  WRITE 18217 00:19:4 0 EOF": the major and minor
    // device numbers in hexadecimal, the inode in decimal. Lines of waiting
    // locks ("1: -> FLOCK ...") are no holders.
    while (!procLocks.empty()) {
        std::string_view line = procLocks.substr(0, procLocks.find('\n'));
        procLocks.remove_prefix(std::min(procLocks.size(), line.size() + 1));
        NextWord(line);
        if (NextWord(line) != "FLOCK") {
            continue;
        }
        NextWord(line);  // ADVISORY
        NextWord(line);  // READ or WRITE
        pid_t pid = 0;
        const bool hasPid = ParseNumber(NextWord(line), pid);
        const std::string_view file = NextWord(line);
        const auto firstColon = file.find(':');
        const auto secondColon = file.find(':', firstColon + 1);
        unsigned major = 0;
        unsigned minor = 0;
        ino_t number = 0;
        if (hasPid && pid > 0 && secondColon != std::string_view::npos &&
            ParseNumber(file.substr(0, firstColon), major, 16) &&
            ParseNumber(file.substr(firstColon + 1, secondColon - firstColon - 1), minor, 16) &&
            ParseNumber(file.substr(secondColon + 1), number) && number == inode &&
            makedev(major, minor) == device) {
            return pid;
        }
    }
    return std::nullopt;
}

std::optional<pid_t> FlockHolder(dev_t device, ino_t inode) {
    return FlockHolderIn(ReadProcFile("/proc/locks"), device, inode);
}

std::string UnitIn(std::string_view cgroups) {
    // "0::/system.slice/vorlund@cradle2.service": the unified hierarchy's
    // line (or, on a hybrid tree, systemd's own) names the control group,
    // whose last part is the unit. Only a service is worth naming: a login
    // session's scope tells nobody more.
    while (!cgroups.empty()) {
        std::string_view line = cgroups.substr(0, cgroups.find('\n'));
        cgroups.remove_prefix(std::min(cgroups.size(), line.size() + 1));
        if (line.substr(0, 3) != "0::" && line.find(":name=systemd:") == std::string_view::npos) {
            continue;
        }
        const std::string_view unit = line.substr(line.rfind('/') + 1);
        constexpr std::string_view kService = ".service";
        if (unit.size() > kService.size() &&
            unit.substr(unit.size() - kService.size()) == kService) {
            return std::string(unit);
        }
    }
    return {};
}

std::string DescribeProcess(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::string name = ReadProcFile(proc + "/comm");
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) {
        name.pop_back();
    }
    std::string described = name.empty() ? "" : name + ", ";
    described += "pid " + std::to_string(pid);
    // Under systemd the unit is what an administrator stops or watches.
    if (const std::string unit = UnitIn(ReadProcFile(proc + "/cgroup")); !unit.empty()) {
        described += ", " + unit;
    }
    return described;
}

}  // namespace vorlund
