#include "app/posix/event_loop.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace vorlund {

EventLoop::Registration EventLoop::ScheduleAt(Clock::time_point due,
                                              std::function<void()> callback) {
    const Id id = nextId_++;
    timers_.emplace(id, Timer{due, std::move(callback)});
    return Registration(*this, id);
}

EventLoop::Registration EventLoop::Watch(int fd, short events, std::function<void(short)> onReady) {
    const Id id = nextId_++;
    watchers_.emplace(id, Watcher{fd, events, std::move(onReady)});
    return Registration(*this, id);
}

void EventLoop::Remove(Id id) {
    timers_.erase(id);
    watchers_.erase(id);
}

void EventLoop::SetWatchEvents(Id id, short events) {
    if (auto found = watchers_.find(id); found != watchers_.end()) {
        found->second.events = events;
    }
}

void EventLoop::Run() {
    quit_ = false;
    while (!quit_) {
        Turn(nullptr);
    }
}

void EventLoop::RunOnce(Clock::time_point limit) {
    Turn(&limit);
}

int EventLoop::PollTimeout(const Clock::time_point* limit) const {
    std::optional<Clock::time_point> wake;
    for (const auto& [id, timer] : timers_) {
        wake = wake ? std::min(*wake, timer.due) : timer.due;
    }
    if (limit != nullptr) {
        wake = wake ? std::min(*wake, *limit) : *limit;
    }
    if (!wake) {
        return -1;  // nothing but the descriptors can wake us
    }
    // Rounded up: waking a fraction of a millisecond early would only mean
    // a second, useless turn.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(wait)>(wait, 0, 24 * 60 * 60 * 1000));
}

void EventLoop::Turn(const Clock::time_point* limit) {
    std::vector<pollfd> fds;
    std::vector<Id> ids;
    for (const auto& [id, watcher] : watchers_) {
        fds.push_back({watcher.fd, watcher.events, 0});
        ids.push_back(id);
    }
    const int ready = ::poll(fds.data(), fds.size(), PollTimeout(limit));
    ++wakeups_;
    if (ready < 0) {
        return;  // interrupted: the next turn looks again
    }
    for (std::size_t i = 0; i < fds.size() && ready > 0 && !quit_; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        // An earlier callback of this turn may have removed the watch, and a
        // new one may since have taken the same descriptor number.
        const auto found = watchers_.find(ids[i]);
        if (found != watchers_.end()) {
            const auto onReady = found->second.onReady;
            onReady(fds[i].revents);
        }
    }
    RunDueTimers();
}

void EventLoop::RunDueTimers() {
    const Clock::time_point now = Clock::now();
    // Timers made by the callbacks of this turn wait for the next one, so a
    // callback that posts another cannot keep the loop from polling.
    const Id newest = nextId_;
    while (!quit_) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->first < newest && it->second.due <= now &&
                (next == timers_.end() || it->second.due < next->second.due)) {
                next = it;
            }
        }
        if (next == timers_.end()) {
            return;
        }
        const auto callback = std::move(next->second.callback);
        timers_.erase(next);
        callback();
    }
}

}  // namespace vorlund
