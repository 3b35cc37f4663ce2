#include "app/posix/recurring_fault.h"

namespace vorlund {

std::optional<RecurringFault::Line> RecurringFault::Attempt(std::string_view text,
                                                            Clock::time_point now) {
    if (text != text_) {
        *this = RecurringFault();
        text_ = std::string(text);
    }
    if (!open_) {
        open_ = true;
        announced_ = false;
        attempts_ = 0;
        episodeStart_ = now;
    }
    ++attempts_;
    if (lastLine_ && now - *lastLine_ < kLineInterval) {
        return std::nullopt;
    }
    lastLine_ = now;
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
    lastLine_ = now;
    return Line{true, attempts_, now - episodeStart_};
}

}  // namespace vorlund
