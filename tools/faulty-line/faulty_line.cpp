// A serial line with the faults of a real site, for the end-to-end tests:
// two pseudo-terminal pairs, one for the service and one for the terminal's
// sender, and a pump between them that flips bits, drops bytes, inserts
// bursts of garbage and stalls the line, in either direction, at random but
// from a seed, so a failing run can be repeated exactly. Bytes sent towards
// a side that nobody has open are lost, as on a real line.
//
//   faulty_line SERVICE_LINK TERMINAL_LINK SEED [name=value ...]
//
// The links are symbolic links to the two pseudo-terminals. Faults, each a
// chance per byte passed on (both directions alike): flip=, drop=,
// garbage= (a burst of 1 to 16 random bytes before the byte), stall= (the
// direction holds everything for stall-ms= milliseconds, chosen from 0 up to
// that, then delivers it at once). back= multiplies the chances towards the
// terminal, which carries only the service's short answers, so that they too
// are lost and damaged now and then. SIGTERM ends it, and it prints what it
// did. trace=FILE writes every byte passed on, with its time and fault, to
// FILE, for finding out what happened in a failed run.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;

struct Faults {
    double flip = 0;
    double drop = 0;
    double garbage = 0;
    double stall = 0;
    int stallMs = 15000;
};

struct Counts {
    std::uint64_t passed = 0, flipped = 0, dropped = 0, bursts = 0, stalls = 0, lost = 0;
};

double ParseChance(std::string_view text) {
    // Decimal fractions only ("0.001"), read without the C locale.
    double value = 0;
    double scale = 1;
    bool afterPoint = false;
    for (char c : text) {
        if (c == '.' && !afterPoint) {
            afterPoint = true;
        } else if (c >= '0' && c <= '9') {
            if (afterPoint) {
                scale /= 10;
                value += (c - '0') * scale;
            } else {
                value = value * 10 + (c - '0');
            }
        } else {
            throw std::invalid_argument("not a chance: " + std::string(text));
        }
    }
    return value;
}

std::uint64_t ParseNumber(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        throw std::invalid_argument("not a number: " + std::string(text));
    }
    return value;
}

// One pseudo-terminal pair; we hold the master, the link names the slave.
class Pty {
  public:
    explicit Pty(const std::string& link) : link_(link) {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        // Raw from the start, as a serial device is: no echo, no line
        // editing, whatever opens it and for however short a time.
        const int slave = ::open(::ptsname(fd_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (slave < 0 || ::tcgetattr(slave, &settings) != 0) {
            throw std::runtime_error("cannot set up the pseudo-terminal");
        }
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        ::close(slave);
        ::unlink(link.c_str());
        if (::symlink(::ptsname(fd_), link.c_str()) != 0) {
            throw std::runtime_error("cannot link " + link);
        }
    }
    ~Pty() {
        ::unlink(link_.c_str());
        ::close(fd_);
    }
    int fd() const { return fd_; }

  private:
    std::string link_;
    int fd_ = -1;
};

// One direction of the line.
class Direction {
  public:
    // `avoid`: a byte that garbage never holds (-1: none).
    Direction(const char* name, Faults faults, std::mt19937_64& random, std::FILE* trace, int avoid)
        : name_(name), faults_(faults), random_(random), trace_(trace), avoid_(avoid) {}

    void Take(const char* bytes, std::size_t count, Clock::time_point now) {
        for (std::size_t i = 0; i < count; ++i) {
            if (Chance(faults_.stall) && now >= stallEnd_) {
                stallEnd_ = now + std::chrono::milliseconds(Below(faults_.stallMs + 1));
                ++counts_.stalls;
                Trace(now, "stall starts", 0);
            }
            const Clock::time_point release = std::max(now, stallEnd_);
            if (Chance(faults_.garbage)) {
                ++counts_.bursts;
                Trace(now, "garbage follows", 0);
                for (std::uint64_t n = 1 + Below(16); n > 0; --n) {
                    char garbage = static_cast<char>(Below(256));
                    if (static_cast<unsigned char>(garbage) == avoid_) {
                        garbage = static_cast<char>(garbage + 1);
                    }
                    queue_.push_back({garbage, release});
                }
            }
            if (Chance(faults_.drop)) {
                ++counts_.dropped;
                Trace(now, "dropped", bytes[i]);
                continue;
            }
            char byte = bytes[i];
            if (Chance(faults_.flip)) {
                ++counts_.flipped;
                byte = static_cast<char>(byte ^ (1 << Below(8)));
                Trace(now, "flipped", byte);
            }
            queue_.push_back({byte, release});
            ++counts_.passed;
        }
    }

    // Writes what is due to `fd`; with nobody at the other end it is lost.
    void Deliver(int fd, bool open, Clock::time_point now) {
        std::string due;
        while (!queue_.empty() && queue_.front().release <= now) {
            due.push_back(queue_.front().byte);
            queue_.pop_front();
        }
        if (due.empty()) {
            return;
        }
        if (!open) {
            counts_.lost += due.size();
            return;
        }
        if (trace_) {
            for (char byte : due) {
                Trace(now, "", byte);
            }
        }
        std::size_t at = 0;
        while (at < due.size()) {
            const ssize_t written = ::write(fd, due.data() + at, due.size() - at);
            if (written <= 0) {
                break;
            }
            at += static_cast<std::size_t>(written);
        }
        // What the other side's queue cannot take now waits in front.
        for (std::size_t i = due.size(); i > at; --i) {
            queue_.push_front({due[i - 1], now});
        }
    }

    // How long until something is due, for poll; -1 when nothing waits.
    int Wait(Clock::time_point now) const {
        if (queue_.empty()) {
            return -1;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(queue_.front().release - now);
        return static_cast<int>(std::max<long>(left.count(), 0));
    }

    void Print() const {
        std::fprintf(stderr,
                     "faulty_line %s: %llu bytes passed, %llu flipped, %llu dropped, %llu garbage "
                     "bursts, %llu stalls, %llu lost with nobody listening\n",
                     name_, static_cast<unsigned long long>(counts_.passed),
                     static_cast<unsigned long long>(counts_.flipped),
                     static_cast<unsigned long long>(counts_.dropped),
                     static_cast<unsigned long long>(counts_.bursts),
                     static_cast<unsigned long long>(counts_.stalls),
                     static_cast<unsigned long long>(counts_.lost));
    }

  private:
    void Trace(Clock::time_point now, const char* what, char byte) {
        if (trace_) {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
            std::fprintf(trace_, "%lld %s %02x %s\n", static_cast<long long>(ms.count()), name_,
                         static_cast<unsigned char>(byte), what);
        }
    }

    struct Byte {
        char byte;
        Clock::time_point release;
    };

    bool Chance(double p) {
        return p > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < p;
    }
    std::uint64_t Below(std::uint64_t n) { return random_() % n; }

    const char* name_;
    Faults faults_;
    std::mt19937_64& random_;
    std::FILE* trace_;
    int avoid_;
    std::deque<Byte> queue_;
    Clock::time_point stallEnd_{};
    Counts counts_;
};

// Reads what one side sent. False when nobody has that side open: a master
// whose slave is closed reports a hang-up until it is opened again.
bool ReadSide(int fd, short revents, Direction& direction, Clock::time_point now) {
    if ((revents & POLLIN) != 0) {
        char buffer[4096];
        for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
            direction.Take(buffer, static_cast<std::size_t>(count), now);
        }
    }
    return (revents & POLLHUP) == 0;
}

int Run(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: faulty_line SERVICE_LINK TERMINAL_LINK SEED [name=value ...]\n");
        return 64;
    }
    Faults faults;
    double back = 1;
    std::FILE* trace = nullptr;
    for (int i = 4; i < argc; ++i) {
        const std::string_view option = argv[i];
        const std::size_t equals = option.find('=');
        const std::string_view name = option.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? "" : option.substr(equals + 1);
        if (name == "flip") {
            faults.flip = ParseChance(value);
        } else if (name == "drop") {
            faults.drop = ParseChance(value);
        } else if (name == "garbage") {
            faults.garbage = ParseChance(value);
        } else if (name == "stall") {
            faults.stall = ParseChance(value);
        } else if (name == "trace") {
            trace = std::fopen(std::string(value).c_str(), "w");
        } else if (name == "back") {
            back = ParseChance(value);
        } else if (name == "stall-ms") {
            faults.stallMs = static_cast<int>(ParseNumber(value));
        } else {
            throw std::invalid_argument("unknown option: " + std::string(option));
        }
    }
    std::mt19937_64 random(ParseNumber(argv[3]));

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int signals = ::signalfd(-1, &stop, SFD_CLOEXEC);

    Pty service(argv[1]);
    Pty terminal(argv[2]);
    Faults backFaults = faults;
    for (double* chance :
         {&backFaults.flip, &backFaults.drop, &backFaults.garbage, &backFaults.stall}) {
        *chance = std::min(1.0, *chance * back);
    }
    // sz takes a '*' it reads while it waits to start for the start of
    // ZMODEM and leaves YMODEM for good, which no terminal would do.
    Direction toTerminal("service->terminal", backFaults, random, trace, '*');
    Direction toService("terminal->service", faults, random, trace, -1);
    bool serviceOpen = false;
    bool terminalOpen = false;
    for (;;) {
        const Clock::time_point now = Clock::now();
        toTerminal.Deliver(terminal.fd(), terminalOpen, now);
        toService.Deliver(service.fd(), serviceOpen, now);
        int wait = 20;  // a closed side is looked at again this often
        for (int due : {toTerminal.Wait(now), toService.Wait(now)}) {
            if (due >= 0 && due < wait) {
                wait = due;
            }
        }
        // A side with nobody there reports a hang-up at once, so it is only
        // looked at when the wait is over.
        pollfd fds[3] = {{signals, POLLIN, 0},
                         {service.fd(), static_cast<short>(serviceOpen ? POLLIN : 0), 0},
                         {terminal.fd(), static_cast<short>(terminalOpen ? POLLIN : 0), 0}};
        const int count = ::poll(fds, serviceOpen && terminalOpen ? 3 : 1, wait);
        if (count < 0 && errno != EINTR) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            break;
        }
        const Clock::time_point later = Clock::now();
        if (serviceOpen && terminalOpen) {
            serviceOpen = ReadSide(service.fd(), fds[1].revents, toTerminal, later);
            terminalOpen = ReadSide(terminal.fd(), fds[2].revents, toService, later);
        } else {
            pollfd probe[2] = {{service.fd(), POLLIN, 0}, {terminal.fd(), POLLIN, 0}};
            ::poll(probe, 2, 0);
            serviceOpen = ReadSide(service.fd(), probe[0].revents, toTerminal, later);
            terminalOpen = ReadSide(terminal.fd(), probe[1].revents, toService, later);
        }
    }
    toTerminal.Print();
    toService.Print();
    if (trace) {
        std::fclose(trace);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "faulty_line: %s\n", error.what());
        return 1;
    }
}
