#include "sim/sim_event_loop.h"

#include <algorithm>
#include <stdexcept>

namespace vorlund::sim {

std::ostream& operator<<(std::ostream& out, const Record& record) {
    return out << '{' << record.time << ", \"" << record.what << "\"}";
}

SimEventLoop::Entry SimEventLoop::At(VirtualTime time, std::function<void()> action) {
    const Entry entry{time, nextSequence_++};
    agenda_.emplace(entry, std::move(action));
    return entry;
}

void SimEventLoop::RunUntil(VirtualTime until) {
    while (!quitRequested_) {
        if (agenda_.empty() || agenda_.begin()->first.first > until) {
            now_ = std::max(now_, until);
            return;
        }
        RunFirst();
    }
}

void SimEventLoop::RunModal(const std::function<bool()>& done) {
    while (!quitRequested_ && !done()) {
        if (agenda_.empty()) {
            throw std::logic_error("modal loop with nothing left to end it");
        }
        RunFirst();
    }
}

void SimEventLoop::RunFirst() {
    auto first = agenda_.begin();
    now_ = std::max(now_, first->first.first);
    auto action = std::move(first->second);
    agenda_.erase(first);
    action();
}

}  // namespace vorlund::sim
