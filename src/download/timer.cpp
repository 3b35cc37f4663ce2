#include "download/timer.h"

#include <utility>

namespace vorlund {

TTimer::TTimer(const TickSourceFactory& makeSource) : source_(makeSource([this] { Tick(); })) {}

void TTimer::SetInterval(unsigned intervalMs) {
    if (intervalMs != interval_) {
        interval_ = intervalMs;
        Restart();
    }
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled != enabled_) {
        enabled_ = enabled;
        Restart();
    }
}

void TTimer::SetOnTimer(std::function<void()> handler) {
    onTimer_ = std::move(handler);
    Restart();
}

void TTimer::Tick() {
    if (Counting()) {
        // A copy, so a handler that replaces OnTimer does not destroy itself.
        const auto handler = onTimer_;
        handler();
    }
}

bool TTimer::Counting() const {
    return enabled_ && interval_ != 0 && onTimer_;
}

void TTimer::Restart() {
    source_->Stop();
    if (Counting()) {
        try {
            source_->Start(interval_);
        } catch (...) {
            // Not counting, so not armed: marked armed, every later arming
            // would be ignored and the timer could never tick again.
            enabled_ = false;
            throw;
        }
    }
}

}  // namespace vorlund
