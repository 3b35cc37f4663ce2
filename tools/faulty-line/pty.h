// One side of the faulty serial line: a pseudo-terminal pair whose master
// the line holds and whose slave a symbolic link names, for the program on
// that side to open. Destroying it is that side's device going away, as an
// adapter that is pulled out: the link disappears, and whoever still has the
// slave open reads a hang-up.
#pragma once

#include <string>

namespace faulty_line {

// A file descriptor, closed with its owner.
class OwnedFd {
  public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd();
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

class Pty {
  public:
    explicit Pty(std::string link);
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    int fd() const { return master_.get(); }

  private:
    OwnedFd master_;
    std::string link_;
};

}  // namespace faulty_line
