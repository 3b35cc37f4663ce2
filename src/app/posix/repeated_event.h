// Events that come again and again for one reason without being retried by
// the service itself (a terminal whose transfers keep failing the same way,
// noise on the line): the first of each reason is written at once, and later
// ones of that reason at most once a minute, standing for how many came
// since. A reason that has not come for a minute is news again, and so is
// every reason once the trouble is over (a transfer succeeded).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vorlund {

class RepeatedEvent {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kLineInterval{60};
    // Reasons remembered at most; the oldest is forgotten first.
    static constexpr std::size_t kMostReasons = 64;

    struct Line {
        std::uint64_t count = 0;  // what this line stands for: `amount`s since the last line
        std::uint64_t events = 0;  // and how many events brought them
        Clock::duration over{};   // from the first of them to this one
    };

    // `amount` of something (one failure, so many bytes) for `reason`; the
    // line to write, if any.
    std::optional<Line> Occurred(std::string_view reason, Clock::time_point now,
                                 std::uint64_t amount = 1);
    void Clear() { reasons_.clear(); }

  private:
    struct Reason {
        Clock::time_point lastLine{};
        std::uint64_t count = 0;
        std::uint64_t events = 0;
        Clock::time_point first{};
    };
    std::map<std::string, Reason, std::less<>> reasons_;
};

}  // namespace vorlund
