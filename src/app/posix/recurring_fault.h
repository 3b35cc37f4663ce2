// Keeps a fault that the service retries on its own (the serial line, every
// 300 ms) from flooding the journal, while the last line written about it
// always tells its state. Lines about the fault come at most once a minute:
// the first attempt of an episode at once, later attempts with the count so
// far, the end once the episode was announced. An episode that starts again
// within a minute of the previous line is counted quietly; should it last,
// its line follows once the minute is up.
#pragma once

#include <chrono>
#include <cstdint>
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

    // One failed attempt; the line to write, if any. A fault of another text
    // replaces the one kept.
    std::optional<Line> Attempt(std::string_view text, Clock::time_point now);
    // The fault is over; the line to write, if its episode was announced.
    std::optional<Line> End(Clock::time_point now);

  private:
    std::string text_;
    bool open_ = false;
    bool announced_ = false;
    std::uint64_t attempts_ = 0;
    Clock::time_point episodeStart_{};
    std::optional<Clock::time_point> lastLine_;
};

}  // namespace vorlund
