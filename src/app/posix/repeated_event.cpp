#include "app/posix/repeated_event.h"

#include <algorithm>

namespace vorlund {

std::optional<RepeatedEvent::Line> RepeatedEvent::Occurred(std::string_view reason,
                                                           Clock::time_point now,
                                                           std::uint64_t amount) {
    auto known = reasons_.find(reason);
    if (known == reasons_.end()) {
        if (reasons_.size() >= kMostReasons) {
            reasons_.erase(std::min_element(reasons_.begin(), reasons_.end(),
                                            [](const auto& a, const auto& b) {
                                                return a.second.lastLine < b.second.lastLine;
                                            }));
        }
        reasons_.emplace(reason, Reason{now, 0, 0, now});
        return Line{amount, 1, {}};
    }
    Reason& seen = known->second;
    if (seen.count == 0) {
        seen.first = now;
    }
    seen.count += amount;
    ++seen.events;
    if (now - seen.lastLine < kLineInterval) {
        return std::nullopt;
    }
    const Line line{seen.count, seen.events, now - seen.first};
    seen = Reason{now, 0, 0, now};
    return line;
}

}  // namespace vorlund
