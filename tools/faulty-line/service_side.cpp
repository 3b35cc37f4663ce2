#include "service_side.h"

#include <utility>

namespace faulty_line {
namespace {

constexpr char kAck = 0x06;

// The service answers an end at once, or once the line has been quiet for a
// second; an ACK later than this answers something else.
constexpr std::chrono::milliseconds kEndAnswerWindow{2000};

const char* Describe(DropCause cause) {
    switch (cause) {
        case DropCause::kRandom:
            return "at random";
        case DropCause::kAfterEnd:
            return "after an end of transmission";
        case DropCause::kOnEndAnswer:
            return "with the answer to an end";
        case DropCause::kRequested:
            return "on request";
    }
    return "";
}

long long Milliseconds(Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

}  // namespace

ServiceSide::ServiceSide(std::string link, DropPlan plan, std::mt19937_64& random)
    : link_(std::move(link)), plan_(plan), random_(random) {
    pty_.emplace(link_);
}

bool ServiceSide::Drop(DropCause cause, Clock::time_point now) {
    plannedDrop_.reset();
    endReached_.reset();
    if (!pty_) {
        return false;
    }
    pty_.reset();
    const int span = plan_.awayMaxMs - plan_.awayMinMs;
    const auto away = std::chrono::milliseconds(
        plan_.awayMinMs + (span > 0 ? static_cast<int>(random_() % (span + 1)) : 0));
    back_ = now + away;
    awayMs_ += static_cast<std::uint64_t>(away.count());
    ++drops_[static_cast<std::size_t>(cause)];
    // Written as it happens, with the monotonic clock's milliseconds, so that
    // a harness can tell which transfer each drop hit.
    std::fprintf(stderr, "faulty_line drop: %lld ms, %s, away %lld ms\n", Milliseconds(now),
                 Describe(cause), static_cast<long long>(away.count()));
    return true;
}

bool ServiceSide::Tick(Clock::time_point now) {
    if (plannedDrop_ && *plannedDrop_ <= now) {
        return Drop(DropCause::kAfterEnd, now);
    }
    if (back_ && *back_ <= now) {
        back_.reset();
        pty_.emplace(link_);
    }
    return false;
}

bool ServiceSide::Passed(std::size_t count, Clock::time_point now) {
    for (std::size_t i = 0; i < count; ++i) {
        if (Chance(plan_.random)) {
            return Drop(DropCause::kRandom, now);
        }
    }
    return false;
}

void ServiceSide::EndReachedService(Clock::time_point now) {
    endReached_ = now;
    if (!plannedDrop_ && Chance(plan_.afterEnd)) {
        const auto window = std::chrono::microseconds(plan_.afterEndMs * 1000);
        plannedDrop_ = now + std::chrono::microseconds(random_() % (window.count() + 1));
    }
}

ServiceSide::Fate ServiceSide::ServiceSent(std::string_view bytes, Clock::time_point now) {
    // The answer to an end: ACK, or ZMODEM's ZRINIT after its ZEOF.
    if (!endReached_ || (bytes.find(kAck) == std::string_view::npos &&
                         bytes.find("\x18" "B01") == std::string_view::npos)) {
        return Fate::kPass;
    }
    const bool answer = now - *endReached_ <= kEndAnswerWindow;
    endReached_.reset();
    if (!answer || !Chance(plan_.onEndAnswer)) {
        return Fate::kPass;
    }
    // Half the time the sender never hears the answer; half the time it
    // does, and the service loses the line only after.
    return random_() % 2 == 0 ? Fate::kLost : Fate::kPassThenDrop;
}

std::optional<Clock::time_point> ServiceSide::Due() const {
    if (plannedDrop_) {
        return plannedDrop_;
    }
    return back_;
}

void ServiceSide::Print() const {
    std::uint64_t total = 0;
    for (std::uint64_t count : drops_) {
        total += count;
    }
    std::fprintf(stderr,
                 "faulty_line drops: %llu (%llu at random, %llu after an end of transmission, "
                 "%llu with the answer to an end, %llu on request), away %llu ms in all\n",
                 static_cast<unsigned long long>(total),
                 static_cast<unsigned long long>(drops_[0]),
                 static_cast<unsigned long long>(drops_[1]),
                 static_cast<unsigned long long>(drops_[2]),
                 static_cast<unsigned long long>(drops_[3]),
                 static_cast<unsigned long long>(awayMs_));
}

bool ServiceSide::Chance(double p) {
    return p > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < p;
}

}  // namespace faulty_line
