#include "app/posix/posix_shell.h"

#include <time.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

namespace vorlund {
namespace {

// A periodic timer on the event loop. The next tick is booked before the
// callback runs, so a handler that stops its own timer cancels it.
class LoopTickSource final : public TickSource {
  public:
    LoopTickSource(EventLoop& loop, std::function<void()> onTick)
        : loop_(loop), onTick_(std::move(onTick)) {}

    void Start(unsigned intervalMs) override {
        Stop();
        interval_ = std::chrono::milliseconds(intervalMs);
        Book(EventLoop::Clock::now() + interval_);
    }

    void Stop() override { booked_.Cancel(); }

  private:
    void Book(EventLoop::Clock::time_point due) {
        booked_ = loop_.ScheduleAt(due, [this, due] {
            // Ticks that a long handler made us miss are not made up for.
            const auto now = EventLoop::Clock::now();
            Book(due + interval_ > now ? due + interval_ : now + interval_);
            onTick_();
        });
    }

    EventLoop& loop_;
    std::function<void()> onTick_;
    std::chrono::milliseconds interval_{0};
    EventLoop::Registration booked_;
};

}  // namespace

void PosixShell::ShowInfoBox(std::string_view text) {
    journal_.WriteMessage(Worded(text));
}

void PosixShell::ShowInfoBoxWithDetail(std::string_view text, std::string_view detail,
                                       Recurrence recurrence) {
    journal_.WriteMessage(Worded(text), detail, recurrence);
}

void PosixShell::ShowFailureBox(std::string_view caption, std::string_view text) {
    std::string line(caption);
    line += ": ";
    line += text;
    journal_.Write(Priority::kError, line);
}

std::unique_ptr<TickSource> PosixShell::CreateTickSource(std::function<void()> onTick) {
    return std::make_unique<LoopTickSource>(loop_, std::move(onTick));
}

void PosixShell::Sleep(unsigned ms) {
    timespec remaining{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace vorlund
