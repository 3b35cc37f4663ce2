#include "platform/posix/serial_port.h"

#include "platform/posix/system_error_text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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

}  // namespace

bool SerialPort::SupportsBaudrate(std::int32_t baudrate) {
    return SpeedOf(baudrate).has_value();
}

SerialPort SerialPort::Open(const std::string& device, const LineSettings& settings) {
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return Failed(SystemErrorText(errno));
    }
    if (!::isatty(fd.get())) {
        return Failed("not a serial line");
    }
    // A port is one program's at a time, as on the desktop the service comes
    // from: the lock keeps out a second service, the exclusive mode any other
    // program that opens the device after us.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return Failed(errno == EWOULDBLOCK ? "held by another program" : SystemErrorText(errno));
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        return Failed(SystemErrorText(errno));
    }
    if (!Configure(fd.get(), settings)) {
        return Failed("the line settings are refused: " + SystemErrorText(errno));
    }
    // Whatever arrived before we were listening belongs to no transfer of ours.
    ::tcflush(fd.get(), TCIFLUSH);
    return SerialPort(std::move(fd));
}

SerialPort SerialPort::Failed(std::string failure) {
    SerialPort port;
    port.failure_ = std::move(failure);
    return port;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    Close();
    fd_ = std::move(other.fd_);
    failure_ = std::move(other.failure_);
    return *this;
}

void SerialPort::Close() {
    if (fd_) {
        ::ioctl(fd_.get(), TIOCNXCL);
        fd_.reset();
    }
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
