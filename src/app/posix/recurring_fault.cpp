#include "app/posix/recurring_fault.h"

namespace vorlund {

std::optional<RecurringFault::Line> RecurringFault::Attempt(std::string_view reason,
                                                            Clock::time_point now) {
    if (!open_) {
        open_ = true;
        announced_ = false;
        attempts_ = 0;
        episodeStart_ = now;
    }
    ++attempts_;
    std::erase_if(lastLines_, [now](const auto& line) { return now - line.second >= kLineInterval; });
    if (lastLines_.find(reason) != lastLines_.end()) {
        return std::nullopt;
    }
    lastLines_.emplace(reason, now);
    announced_ = true;
    return Line{false, attempts_, now - episodeStart_};
}

std::optional<RecurringFault::Line> RecurringFault::End(Clock::time_point now) {
    if (!open_) {
        return std::nullopt;
    }
    open_ = false;
    if (!announced_) {
        return std::nullopt;
    }
    return Line{true, attempts_, now - episodeStart_};
}

}  // namespace vorlund
