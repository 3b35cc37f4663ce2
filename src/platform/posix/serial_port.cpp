#include "platform/posix/serial_port.h"

#include "platform/posix/lock_holder.h"
#include "platform/posix/system_error_text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace vorlund {
namespace {

std::optional<speed_t> SpeedOf(std::int32_t baudrate) {
    switch (baudrate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return std::nullopt;
    }
}

tcflag_t DataBitsFlag(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

bool Configure(int fd, const LineSettings& settings) {
    const std::optional<speed_t> speed = SpeedOf(settings.baudrate);
    termios line{};
    if (!speed) {
        errno = EINVAL;
        return false;
    }
    if (::tcgetattr(fd, &line) != 0) {
        return false;
    }
    ::cfmakeraw(&line);
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    line.c_cflag |= DataBitsFlag(settings.dataBits) | CLOCAL | CREAD;
    if (settings.parity != Parity::kNone) {
        line.c_cflag |= PARENB | (settings.parity == Parity::kOdd ? PARODD : 0);
    }
    if (settings.twoStopBits) {
        line.c_cflag |= CSTOPB;
    }
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    return ::cfsetispeed(&line, *speed) == 0 && ::cfsetospeed(&line, *speed) == 0 &&
           ::tcsetattr(fd, TCSANOW, &line) == 0;
}

std::string HeldByAnother(const std::optional<std::string>& holder) {
    std::string text = "held by another program";
    if (holder) {
        text += " (" + *holder + ")";
    }
    return text;
}

// Who holds the line by a flock(2) lock (picocom, another vorlund), as far
// as the system tells. A lock of this very process, taken through another
// descriptor, names no other program.
std::optional<std::string> FlockHolderOf(const struct stat& line) {
    const std::optional<pid_t> pid = FlockHolder(line.st_dev, line.st_ino);
    return pid && *pid != ::getpid() ? std::optional<std::string>(DescribeProcess(*pid))
                                     : std::nullopt;
}

// The whole line as one record lock, for fcntl(2).
struct flock WholeLine(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

// Who holds the open line `fd`. The system names the owner of a record
// lock to anyone who asks, so another vorlund is named also where a sandbox
// hides the list of flock(2) locks (systemd's ProcSubset=pid); picocom,
// which takes only the flock(2) lock, is found in that list.
std::optional<std::string> HolderOf(int fd) {
    struct flock probe = WholeLine(F_WRLCK);
    if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0 &&
        probe.l_pid != ::getpid()) {
        return DescribeProcess(probe.l_pid);
    }
    struct stat line {};
    return ::fstat(fd, &line) == 0 ? FlockHolderOf(line) : std::nullopt;
}

// The slave side of a pseudo-terminal (the kernel's Unix 98 ptys).
bool IsPseudoTerminal(int fd) {
    constexpr unsigned kFirstMajor = 136;
    constexpr unsigned kMajors = 8;
    struct stat line {};
    return ::fstat(fd, &line) == 0 && S_ISCHR(line.st_mode) &&
           major(line.st_rdev) - kFirstMajor < kMajors;
}

}  // namespace

bool SerialPort::SupportsBaudrate(std::int32_t baudrate) {
    return SpeedOf(baudrate).has_value();
}

SerialPort SerialPort::Open(const std::string& device, const LineSettings& settings,
                            const std::string& lockDirectory) {
    // A line held by a lock file is not even opened: opening a serial line
    // raises its modem lines under the program that has it.
    if (const auto holder = DeviceLockFile::HeldBy(lockDirectory, device)) {
        return Failed(HeldByAnother(holder));
    }
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        struct stat line {};
        if (error == EBUSY && ::stat(device.c_str(), &line) == 0) {
            // Another program opened it in exclusive mode, as this one does.
            return Failed(HeldByAnother(FlockHolderOf(line)));
        }
        if (error == EPERM) {
            // Not the file's permissions (that is EACCES): the service
            // manager's device policy keeps the service from the device.
            return Failed(SystemErrorText(error) +
                          " (the service may not use this device: see DeviceAllow in vorlund(8))");
        }
        return Failed(SystemErrorText(error));
    }
    if (!::isatty(fd.get())) {
        return Failed("not a serial line");
    }
    // A port is one program's at a time, as on the desktop the service comes
    // from: the flock(2) lock keeps out a second service and picocom, the
    // lock file minicom and cu, the exclusive mode any other program that
    // opens the device after us. The record lock only tells a second
    // service who we are.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK) {
            return Failed(SystemErrorText(error));
        }
        return Failed(HeldByAnother(HolderOf(fd.get())));
    }
    if (struct flock whole = WholeLine(F_WRLCK); ::fcntl(fd.get(), F_SETLK, &whole) != 0) {
        const int error = errno;
        if (error != EAGAIN && error != EACCES) {
            return Failed(SystemErrorText(error));
        }
        return Failed(HeldByAnother(HolderOf(fd.get())));
    }
    std::optional<std::string> heldBy;
    DeviceLockFile lockFile = DeviceLockFile::Make(lockDirectory, device, heldBy);
    if (heldBy) {
        return Failed(HeldByAnother(heldBy));
    }
    // The exclusive mode belongs to the terminal, not to us: the kernel drops
    // it only when the last descriptor of the device closes. On a
    // pseudo-terminal the other side (socat) keeps it open, so a mode set by
    // a service that was killed would keep its restart out (only
    // CAP_SYS_ADMIN passes) for as long as that side lives. There the locks
    // alone keep the line, as they end with us.
    if (!IsPseudoTerminal(fd.get()) && ::ioctl(fd.get(), TIOCEXCL) != 0) {
        return Failed(SystemErrorText(errno));
    }
    if (!Configure(fd.get(), settings)) {
        return Failed("the line settings are refused: " + SystemErrorText(errno));
    }
    // Whatever arrived before we were listening belongs to no transfer of ours.
    ::tcflush(fd.get(), TCIFLUSH);
    SerialPort port(std::move(fd));
    port.lockFile_ = std::move(lockFile);
    return port;
}

SerialPort SerialPort::Failed(std::string failure) {
    SerialPort port;
    port.failure_ = std::move(failure);
    return port;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    Close();
    fd_ = std::move(other.fd_);
    lockFile_ = std::move(other.lockFile_);
    failure_ = std::move(other.failure_);
    return *this;
}

void SerialPort::Close() {
    if (fd_) {
        ::ioctl(fd_.get(), TIOCNXCL);
        fd_.reset();
    }
    lockFile_.Release();
}

std::int64_t SerialPort::Read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t count = ::read(fd_.get(), buffer, size);
        if (count > 0) {
            return count;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        }
        // End of file on a terminal: the other side hung up.
        failure_ = count == 0 ? "the line hung up" : "read: " + SystemErrorText(errno);
        return -1;
    }
}

std::int64_t SerialPort::Write(std::string_view bytes) {
    for (;;) {
        const ssize_t count = ::write(fd_.get(), bytes.data(), bytes.size());
        if (count >= 0) {
            return count;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        failure_ = "write: " + SystemErrorText(errno);
        return -1;
    }
}

}  // namespace vorlund
