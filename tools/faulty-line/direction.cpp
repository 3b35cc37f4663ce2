#include "direction.h"

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace faulty_line {

Direction::Direction(const char* name, Faults faults, std::mt19937_64& random, std::FILE* trace,
                     int avoid)
    : name_(name), faults_(faults), random_(random), trace_(trace), avoid_(avoid) {}

void Direction::Take(const char* bytes, std::size_t count, Clock::time_point now, unsigned mark) {
    for (std::size_t i = 0; i < count; ++i) {
        if (Chance(faults_.stall) && now >= stallEnd_) {
            stallEnd_ = now + std::chrono::milliseconds(Below(faults_.stallMs + 1));
            ++counts_.stalls;
            Trace(now, "stall starts", 0);
        }
        Clock::time_point release = std::max(now, stallEnd_);
        if (faults_.baud > 0) {
            // Each byte leaves ten bit times after the one before it.
            release = std::max(release, lineFree_) +
                      std::chrono::nanoseconds(10'000'000'000LL / faults_.baud);
            lineFree_ = release;
        }
        if (Chance(faults_.garbage)) {
            ++counts_.bursts;
            Trace(now, "garbage follows", 0);
            for (std::uint64_t n = 1 + Below(16); n > 0; --n) {
                char garbage = static_cast<char>(Below(256));
                if (static_cast<unsigned char>(garbage) == avoid_) {
                    garbage = static_cast<char>(garbage + 1);
                }
                queue_.push_back({garbage, release, kPlain});
            }
        }
        if (Chance(faults_.drop)) {
            ++counts_.dropped;
            Trace(now, "dropped", bytes[i]);
            continue;
        }
        char byte = bytes[i];
        if (Chance(faults_.flip)) {
            ++counts_.flipped;
            byte = static_cast<char>(byte ^ (1 << Below(8)));
            Trace(now, "flipped", byte);
        }
        queue_.push_back({byte, release, mark});
        ++counts_.passed;
    }
}

unsigned Direction::Deliver(int fd, bool open, Clock::time_point now) {
    std::vector<Byte> due;
    while (!queue_.empty() && queue_.front().release <= now) {
        due.push_back(queue_.front());
        queue_.pop_front();
    }
    if (due.empty()) {
        return kPlain;
    }
    if (!open) {
        counts_.lost += due.size();
        return kPlain;
    }
    std::string bytes;
    for (const Byte& byte : due) {
        bytes.push_back(byte.byte);
        Trace(now, "", byte.byte);
    }
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (written <= 0) {
            break;
        }
        at += static_cast<std::size_t>(written);
    }
    unsigned marks = kPlain;
    for (std::size_t i = 0; i < at; ++i) {
        marks |= due[i].mark;
    }
    // What the other side's queue cannot take now waits in front.
    for (std::size_t i = due.size(); i > at; --i) {
        queue_.push_front({due[i - 1].byte, now, due[i - 1].mark});
    }
    return marks;
}

void Direction::Discard(Clock::time_point now) {
    counts_.cut += queue_.size();
    queue_.clear();
    // A stall is a property of the line that has gone; the new one starts
    // clear.
    stallEnd_ = now;
}

std::optional<Clock::time_point> Direction::Due() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.front().release;
}

void Direction::Print() const {
    std::fprintf(stderr,
                 "faulty_line %s: %llu bytes passed, %llu flipped, %llu dropped, %llu garbage "
                 "bursts, %llu stalls, %llu lost with nobody listening, %llu cut off by drops\n",
                 name_, static_cast<unsigned long long>(counts_.passed),
                 static_cast<unsigned long long>(counts_.flipped),
                 static_cast<unsigned long long>(counts_.dropped),
                 static_cast<unsigned long long>(counts_.bursts),
                 static_cast<unsigned long long>(counts_.stalls),
                 static_cast<unsigned long long>(counts_.lost),
                 static_cast<unsigned long long>(counts_.cut));
}

void Direction::Trace(Clock::time_point now, const char* what, char byte) {
    if (trace_) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
        std::fprintf(trace_, "%lld %s %02x %s\n", static_cast<long long>(ms.count()), name_,
                     static_cast<unsigned char>(byte), what);
    }
}

bool Direction::Chance(double p) {
    return p > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < p;
}

}  // namespace faulty_line
