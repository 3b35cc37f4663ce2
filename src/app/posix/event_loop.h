// The service's single-threaded event loop: one poll over the watched
// descriptors, woken for the nearest due timer and for nothing else, so a
// service that waits for a terminal uses no processor time at all.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace vorlund {

class EventLoop {
  public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;

    // A timer or a watch, cancelled when its holder lets it go. An empty one
    // holds nothing; cancelling a timer that has run does nothing.
    class Registration {
      public:
        Registration() = default;
        Registration(Registration&& other) noexcept
            : loop_(std::exchange(other.loop_, nullptr)), id_(other.id_) {}
        Registration& operator=(Registration&& other) noexcept {
            if (this != &other) {
                Cancel();
                loop_ = std::exchange(other.loop_, nullptr);
                id_ = other.id_;
            }
            return *this;
        }
        ~Registration() { Cancel(); }

        explicit operator bool() const { return loop_ != nullptr; }
        void Cancel() {
            if (loop_) {
                std::exchange(loop_, nullptr)->Remove(id_);
            }
        }
        // For a watch: the events it waits for from now on.
        void SetEvents(short events) {
            if (loop_) {
                loop_->SetWatchEvents(id_, events);
            }
        }

      private:
        friend class EventLoop;
        Registration(EventLoop& loop, Id id) : loop_(&loop), id_(id) {}
        EventLoop* loop_ = nullptr;
        Id id_ = 0;
    };

    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Runs `callback` once, on the first turn at or after `due`. Timers due
    // at the same turn run in the order of their due times.
    [[nodiscard]] Registration ScheduleAt(Clock::time_point due, std::function<void()> callback);
    // Runs `callback` on the next turn, after the current callback.
    [[nodiscard]] Registration Post(std::function<void()> callback) {
        return ScheduleAt(Clock::now(), std::move(callback));
    }

    // Calls `onReady` with poll's revents whenever `fd` shows any of `events`
    // (a hang-up or error is always reported).
    [[nodiscard]] Registration Watch(int fd, short events, std::function<void(short revents)> onReady);

    // Runs until Quit.
    void Run();
    // One turn: waits for a watched descriptor or a due timer, but not past
    // `limit`, and dispatches what is ready.
    void RunOnce(Clock::time_point limit);
    // Ends Run once the callback that asked has returned; nothing else is
    // dispatched after it.
    void Quit() { quit_ = true; }
    bool QuitRequested() const { return quit_; }

    // The number of times the loop has woken up: an idle loop does not count.
    std::uint64_t Wakeups() const { return wakeups_; }

  private:
    struct Timer {
        Clock::time_point due;
        std::function<void()> callback;
    };
    struct Watcher {
        int fd;
        short events;
        std::function<void(short)> onReady;
    };

    void Remove(Id id);
    void SetWatchEvents(Id id, short events);
    void Turn(const Clock::time_point* limit);
    int PollTimeout(const Clock::time_point* limit) const;
    void RunDueTimers();

    std::map<Id, Timer> timers_;
    std::map<Id, Watcher> watchers_;
    Id nextId_ = 1;
    bool quit_ = false;
    std::uint64_t wakeups_ = 0;
};

}  // namespace vorlund
