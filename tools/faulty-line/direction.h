// One direction of the faulty serial line: it takes what one side sent,
// flips, drops and inserts bytes and stalls at random as the faults say, and
// delivers the rest to the other side when it is due. Bytes can carry marks,
// so the line learns when a marked byte has really reached the other side.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <random>

namespace faulty_line {

using Clock = std::chrono::steady_clock;

// Each a chance per byte passed on.
struct Faults {
    double flip = 0;
    double drop = 0;
    double garbage = 0;  // a burst of 1 to 16 random bytes before the byte
    double stall = 0;    // the direction holds everything for up to stallMs
    int stallMs = 15000;
    // The line's speed: each byte takes ten bit times (start, eight data
    // bits, stop); 0 for a line as fast as the pseudo-terminals.
    long baud = 0;
};

// What the line watches for in the bytes it carries; a set of these.
enum Mark : unsigned {
    kPlain = 0,
    kEndOfTransmission = 1,  // the sender's lone EOT
    kDropAfter = 2,          // the line drops as soon as this has arrived
};

class Direction {
  public:
    // `avoid`: a byte that garbage never holds (-1: none).
    Direction(const char* name, Faults faults, std::mt19937_64& random, std::FILE* trace,
              int avoid);

    // `mark` goes with the bytes taken, not with garbage put before them.
    void Take(const char* bytes, std::size_t count, Clock::time_point now, unsigned mark = kPlain);
    // Writes what is due to `fd`; with nobody at the other end it is lost.
    // Returns the marks of the bytes that reached it.
    unsigned Deliver(int fd, bool open, Clock::time_point now);
    // The line has dropped: nothing on its way arrives.
    void Discard(Clock::time_point now);
    // When something is next due; none when nothing waits.
    std::optional<Clock::time_point> Due() const;
    // Bytes on their way: on a paced line the sender is read only while
    // the line's buffer has room, as a UART's would.
    std::size_t Backlog() const { return queue_.size(); }

    void Print() const;

  private:
    struct Byte {
        char byte;
        Clock::time_point release;
        unsigned mark;
    };
    struct Counts {
        std::uint64_t passed = 0, flipped = 0, dropped = 0, bursts = 0, stalls = 0, lost = 0,
                      cut = 0;
    };

    void Trace(Clock::time_point now, const char* what, char byte);
    bool Chance(double p);
    std::uint64_t Below(std::uint64_t n) { return random_() % n; }

    const char* name_;
    Faults faults_;
    std::mt19937_64& random_;
    std::FILE* trace_;
    int avoid_;
    std::deque<Byte> queue_;
    Clock::time_point stallEnd_{};
    Clock::time_point lineFree_{};  // a paced line: when its last byte is through
    Counts counts_;
};

}  // namespace faulty_line
