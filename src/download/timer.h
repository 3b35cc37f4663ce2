// The timer of the main window: armed by Enabled, it ticks once every Interval
// until it is disarmed. Each handler of the cycle disarms its own timer first,
// so one arming yields one call.
#pragma once

#include <functional>
#include <memory>

namespace vorlund {

// One native periodic timer, made by the platform for one TTimer. After
// Start, the platform calls the tick callback it was made with once every
// interval, through its event loop, until Stop. Start on a started source
// begins a new countdown; Stop on a stopped one does nothing.
class TickSource {
  public:
    virtual ~TickSource() = default;
    virtual void Start(unsigned intervalMs) = 0;
    virtual void Stop() = 0;
};

// Makes the native timer for a TTimer; `onTick` is what the native tick calls.
using TickSourceFactory = std::function<std::unique_ptr<TickSource>(std::function<void()> onTick)>;

class TTimer {
  public:
    explicit TTimer(const TickSourceFactory& makeSource);
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    unsigned Interval() const { return interval_; }
    bool Enabled() const { return enabled_; }

    // A new interval starts a new countdown if the timer counts.
    void SetInterval(unsigned intervalMs);
    // Setting the value the timer already has changes nothing: arming an
    // armed timer keeps the tick due when the first arming set it. When the
    // native timer refuses to start, the error escapes and the timer stays
    // disarmed, so a later arming tries again.
    void SetEnabled(bool enabled);
    void SetOnTimer(std::function<void()> handler);

    // The native tick: calls OnTimer if the timer still counts.
    void Tick();

  private:
    // Only armed, with a non-zero interval and a handler, does a timer count.
    bool Counting() const;
    void Restart();

    unsigned interval_ = 0;
    bool enabled_ = false;
    std::function<void()> onTimer_;
    std::unique_ptr<TickSource> source_;
};

}  // namespace vorlund
