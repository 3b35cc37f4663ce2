#include "pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace faulty_line {

OwnedFd::~OwnedFd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Pty::Pty(std::string link)
    : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)), link_(std::move(link)) {
    if (master_.get() < 0 || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    const std::string slavePath = ::ptsname(master_.get());
    {
        // Raw from the start, as a serial device is: no echo, no line
        // editing, whatever opens it and for however short a time.
        const OwnedFd slave(::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        termios settings{};
        if (slave.get() < 0 || ::tcgetattr(slave.get(), &settings) != 0) {
            throw std::runtime_error("cannot set up the pseudo-terminal");
        }
        ::cfmakeraw(&settings);
        ::tcsetattr(slave.get(), TCSANOW, &settings);
    }
    // Put in place in one step: a program that opens the link while a
    // dropped line comes back finds the old device or the new one, never a
    // half-made link.
    const std::string fresh = link_ + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(slavePath.c_str(), fresh.c_str()) != 0 ||
        std::rename(fresh.c_str(), link_.c_str()) != 0) {
        throw std::runtime_error("cannot link " + link_);
    }
}

Pty::~Pty() {
    // The name goes first, so that nobody opens the device while it dies.
    ::unlink(link_.c_str());
}

}  // namespace faulty_line
