// A serial line with the faults of a real site, for the end-to-end tests:
// two pseudo-terminal pairs, one for the service and one for the terminal's
// sender, and a pump between them that flips bits, drops bytes, inserts
// bursts of garbage and stalls the line, in either direction, and drops the
// service's side of the line altogether for a while, at random but from a
// seed, so that a failing run can be repeated as far as the timing allows.
// Bytes sent towards a side that nobody has open are lost, as on a real
// line.
//
//   faulty_line SERVICE_LINK TERMINAL_LINK SEED [name=value ...]
//
// The links are symbolic links to the two pseudo-terminals. Faults, each a
// chance per byte passed on (both directions alike): flip=, drop=,
// garbage= (a burst of 1 to 16 random bytes before the byte), stall= (the
// direction holds everything for stall-ms= milliseconds, chosen from 0 up to
// that, then delivers it at once). back= multiplies the chances towards the
// terminal, which carries only the service's short answers, so that they too
// are lost and damaged now and then.
//
// Drops of the service's side: its device goes away (the service reads a
// hang-up, SERVICE_LINK disappears, whatever was on its way is lost) and
// comes back under the same link after away-ms=MIN-MAX milliseconds
// (200-2000). hangup= is a chance per byte passed; hangup-eot= a chance per
// end of transmission (a lone EOT from the terminal, or a ZMODEM ZEOF) that
// reached the service that the line drops 0 to hangup-eot-ms= (5)
// milliseconds after; hangup-ack=
// a chance per answer to such an end that the line drops with it, before or
// just after the terminal heard it. SIGUSR1 drops it at once. Each drop is
// written to stderr as it happens, with the monotonic clock's milliseconds.
//
// baud= paces both directions at that many bits a second (ten a byte), and
// takes from the sender only while a UART's worth of bytes is on its way,
// so a sender waits on it as on a real line.
//
// SIGTERM ends it, and it prints what it did. trace=FILE writes every byte
// passed on, with its time and fault, to FILE, for finding out what happened
// in a failed run.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "direction.h"
#include "pty.h"
#include "service_side.h"

namespace faulty_line {
namespace {

constexpr char kEot = 0x04;
// The bytes a paced line holds for the service before the sender waits: a
// UART's FIFO and a little more.
constexpr std::size_t kPacedBacklog = 256;

// A ZMODEM ZEOF header, binary with either CRC, its type escaped or not.
bool HasEndOfFile(std::string_view bytes) {
    for (const std::string_view header : {std::string_view("*\x18" "C\x0b"), std::string_view("*\x18" "A\x0b"),
                                          std::string_view("*\x18" "C\x18" "K"),
                                          std::string_view("*\x18" "A\x18" "K")}) {
        if (bytes.find(header) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

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

struct Options {
    Faults faults;
    double back = 1;
    DropPlan drops;
    std::string trace;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 4; i < argc; ++i) {
        const std::string_view option = argv[i];
        const std::size_t equals = option.find('=');
        const std::string_view name = option.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? "" : option.substr(equals + 1);
        if (name == "flip") {
            options.faults.flip = ParseChance(value);
        } else if (name == "drop") {
            options.faults.drop = ParseChance(value);
        } else if (name == "garbage") {
            options.faults.garbage = ParseChance(value);
        } else if (name == "stall") {
            options.faults.stall = ParseChance(value);
        } else if (name == "baud") {
            options.faults.baud = static_cast<long>(ParseNumber(value));
        } else if (name == "stall-ms") {
            options.faults.stallMs = static_cast<int>(ParseNumber(value));
        } else if (name == "back") {
            options.back = ParseChance(value);
        } else if (name == "hangup") {
            options.drops.random = ParseChance(value);
        } else if (name == "hangup-eot") {
            options.drops.afterEnd = ParseChance(value);
        } else if (name == "hangup-eot-ms") {
            options.drops.afterEndMs = static_cast<int>(ParseNumber(value));
        } else if (name == "hangup-ack") {
            options.drops.onEndAnswer = ParseChance(value);
        } else if (name == "away-ms") {
            const std::size_t dash = value.find('-');
            options.drops.awayMinMs = static_cast<int>(ParseNumber(value.substr(0, dash)));
            options.drops.awayMaxMs =
                dash == std::string_view::npos
                    ? options.drops.awayMinMs
                    : static_cast<int>(ParseNumber(value.substr(dash + 1)));
            if (options.drops.awayMaxMs < options.drops.awayMinMs) {
                throw std::invalid_argument("away-ms: MIN above MAX");
            }
        } else if (name == "trace") {
            options.trace = value;
        } else {
            throw std::invalid_argument("unknown option: " + std::string(option));
        }
    }
    return options;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads what one side sent, one read at a time, while `take` wants more.
// False when nobody has that side open: a master whose slave is closed
// reports a hang-up until it is opened again.
bool ReadSide(int fd, short revents, const std::function<bool(std::string_view)>& take) {
    if ((revents & POLLIN) != 0) {
        char buffer[4096];
        for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
            if (!take(std::string_view(buffer, static_cast<std::size_t>(count)))) {
                break;
            }
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
    const Options options = ParseOptions(argc, argv);
    std::unique_ptr<std::FILE, FileCloser> trace(
        options.trace.empty() ? nullptr : std::fopen(options.trace.c_str(), "w"));
    if (trace) {
        // Line by line: a run that is killed still leaves what it saw.
        std::setvbuf(trace.get(), nullptr, _IOLBF, 0);
    }
    // One generator for each direction and one for the drops: what the
    // sender sends meets the same faults however the answers' bytes and the
    // drops fall in between, so a seed repeats a run as far as timing allows.
    const std::uint64_t seed = ParseNumber(argv[3]);
    std::mt19937_64 toTerminalRandom(seed);
    std::mt19937_64 toServiceRandom(seed + 1);
    std::mt19937_64 dropRandom(seed + 2);

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const OwnedFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));

    ServiceSide service(argv[1], options.drops, dropRandom);
    Pty terminal(argv[2]);
    Faults backFaults = options.faults;
    for (double* chance :
         {&backFaults.flip, &backFaults.drop, &backFaults.garbage, &backFaults.stall}) {
        *chance = std::min(1.0, *chance * options.back);
    }
    // sz takes a '*' it reads while it waits to start for the start of
    // ZMODEM and leaves YMODEM for good, which no terminal would do.
    Direction toTerminal("service->terminal", backFaults, toTerminalRandom, trace.get(), '*');
    Direction toService("terminal->service", options.faults, toServiceRandom, trace.get(), -1);
    bool serviceOpen = false;
    bool terminalOpen = false;
    // True when the line dropped just now.
    const auto dropped = [&](bool now, Clock::time_point at) {
        if (now) {
            toService.Discard(at);
            toTerminal.Discard(at);
            serviceOpen = false;
        }
        return now;
    };
    const auto fromService = [&](std::string_view bytes) {
        const Clock::time_point now = Clock::now();
        switch (service.ServiceSent(bytes, now)) {
            case ServiceSide::Fate::kLost:
                dropped(service.Drop(DropCause::kOnEndAnswer, now), now);
                return false;
            case ServiceSide::Fate::kPassThenDrop:
                toTerminal.Take(bytes.data(), bytes.size(), now, kDropAfter);
                break;
            case ServiceSide::Fate::kPass:
                toTerminal.Take(bytes.data(), bytes.size(), now);
                break;
        }
        return !dropped(service.Passed(bytes.size(), now), now);
    };
    const auto fromTerminal = [&](std::string_view bytes) {
        const Clock::time_point now = Clock::now();
        // An XMODEM or YMODEM sender writes its end alone and waits for the
        // answer; a ZMODEM sender's end is its ZEOF header.
        const unsigned mark = bytes == std::string_view(&kEot, 1) || HasEndOfFile(bytes)
                                  ? kEndOfTransmission
                                  : kPlain;
        toService.Take(bytes.data(), bytes.size(), now, mark);
        dropped(service.Passed(bytes.size(), now), now);
        return options.faults.baud == 0 || toService.Backlog() < kPacedBacklog;
    };
    for (;;) {
        Clock::time_point now = Clock::now();
        dropped(service.Tick(now), now);
        if ((toTerminal.Deliver(terminal.fd(), terminalOpen, now) & kDropAfter) != 0) {
            dropped(service.Drop(DropCause::kOnEndAnswer, now), now);
        }
        if ((toService.Deliver(service.fd(), serviceOpen, now) & kEndOfTransmission) != 0) {
            service.EndReachedService(now);
        }
        // A closed side is looked at again this often.
        Clock::time_point wake = now + std::chrono::milliseconds(20);
        for (const auto& due : {toTerminal.Due(), toService.Due(), service.Due()}) {
            if (due) {
                wake = std::min(wake, *due);
            }
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max(wake - now, Clock::duration::zero()));
        const timespec timeout{static_cast<std::time_t>(wait.count() / 1000000000),
                               static_cast<long>(wait.count() % 1000000000)};
        // A side with nobody there reports a hang-up at once, so it is only
        // looked at when the wait is over.
        const bool bothOpen = serviceOpen && terminalOpen;
        pollfd fds[3] = {{signalFd.get(), POLLIN, 0},
                         {service.fd(), static_cast<short>(bothOpen ? POLLIN : 0), 0},
                         {terminal.fd(), static_cast<short>(bothOpen ? POLLIN : 0), 0}};
        // A paced line takes no more from the sender while its buffer is full.
        if (options.faults.baud > 0 && toService.Backlog() >= kPacedBacklog) {
            fds[2].events = 0;
        }
        if (::ppoll(fds, bothOpen ? 3 : 1, &timeout, nullptr) < 0 && errno != EINTR) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo signal{};
            if (::read(signalFd.get(), &signal, sizeof signal) != sizeof signal) {
                continue;
            }
            if (signal.ssi_signo != SIGUSR1) {
                break;
            }
            now = Clock::now();
            dropped(service.Drop(DropCause::kRequested, now), now);
            continue;
        }
        if (!bothOpen) {
            pollfd probe[2] = {{service.fd(), POLLIN, 0}, {terminal.fd(), POLLIN, 0}};
            ::poll(probe, 2, 0);
            fds[1].revents = probe[0].revents;
            fds[2].revents = probe[1].revents;
        }
        serviceOpen = service.Present() && ReadSide(service.fd(), fds[1].revents, fromService);
        // A drop while reading leaves the side closed.
        serviceOpen = serviceOpen && service.Present();
        terminalOpen = ReadSide(terminal.fd(), fds[2].revents, fromTerminal);
    }
    toTerminal.Print();
    toService.Print();
    service.Print();
    return 0;
}

}  // namespace
}  // namespace faulty_line

int main(int argc, char** argv) {
    try {
        return faulty_line::Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "faulty_line: %s\n", error.what());
        return 1;
    }
}
