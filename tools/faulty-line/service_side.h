// The service's side of the faulty serial line, which drops now and then:
// its device goes away, the service reads a hang-up, and after a pause the
// device is back under the same name, as a USB adapter that is pulled out
// and plugged in again. Drops come at random, just after the sender's end of
// transmission has reached the service (when it may or may not have read
// it), while the service's answer to that end is on its way back, and when
// asked for.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "direction.h"
#include "pty.h"

namespace faulty_line {

struct DropPlan {
    double random = 0;         // a chance per byte passed, either way
    double afterEnd = 0;       // a chance per EOT that reached the service ...
    int afterEndMs = 5;        // ... that the line drops within this many ms
    double onEndAnswer = 0;    // a chance per answer to an EOT that the line drops with it
    int awayMinMs = 200;       // how long the device is gone, chosen between these
    int awayMaxMs = 2000;
};

enum class DropCause { kRandom, kAfterEnd, kOnEndAnswer, kRequested };

class ServiceSide {
  public:
    ServiceSide(std::string link, DropPlan plan, std::mt19937_64& random);

    // The master while the device is there; -1 while it is away.
    int fd() const { return pty_ ? pty_->fd() : -1; }
    bool Present() const { return pty_.has_value(); }

    // Each of these returns true when the line dropped just now, so that
    // the caller throws away what was on its way.
    bool Drop(DropCause cause, Clock::time_point now);
    // A drop that was planned for now, or the device back after its pause.
    bool Tick(Clock::time_point now);
    bool Passed(std::size_t count, Clock::time_point now);

    // An EOT of the sender has just been written to the service.
    void EndReachedService(Clock::time_point now);
    // What becomes of bytes the service sent.
    enum class Fate { kPass, kLost, kPassThenDrop };
    Fate ServiceSent(std::string_view bytes, Clock::time_point now);

    std::optional<Clock::time_point> Due() const;
    void Print() const;

  private:
    bool Chance(double p);

    std::string link_;
    DropPlan plan_;
    std::mt19937_64& random_;
    std::optional<Pty> pty_;
    std::optional<Clock::time_point> plannedDrop_;
    std::optional<Clock::time_point> back_;
    // The service's first ACK after this is its answer to the end.
    std::optional<Clock::time_point> endReached_;
    std::array<std::uint64_t, 4> drops_{};
    std::uint64_t awayMs_ = 0;
};

}  // namespace faulty_line
