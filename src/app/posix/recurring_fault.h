// Keeps a fault that the service retries on its own (the serial line, every
// 300 ms) from flooding the journal, while the last line written about it
// always tells its state. Each reason of the fault has its own limit of a
// line a minute: the first attempt with a reason is written at once, later
// ones of that reason with the episode's count so far, the end once the
// episode was announced. An episode that starts again within a minute of
// the previous line of its reason is counted quietly; should it last, its
// line follows once the minute is up.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

class RecurringFault {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kLineInterval{60};

    struct Line {
        bool ended = false;
        std::uint64_t attempts = 0;  // in this episode, this one included
        Clock::duration lasted{};    // since the episode's first attempt
    };

    // One failed attempt, for `reason`; the line to write, if any.
    std::optional<Line> Attempt(std::string_view reason, Clock::time_point now);
    // The fault is over; the line to write, if its episode was announced.
    std::optional<Line> End(Clock::time_point now);

  private:
    bool open_ = false;
    bool announced_ = false;
    std::uint64_t attempts_ = 0;
    Clock::time_point episodeStart_{};
    // The latest line of each reason written within the last minute.
    std::map<std::string, Clock::time_point, std::less<>> lastLines_;
};

}  // namespace vorlund
