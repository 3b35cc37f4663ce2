// The platform services of the main window on the simulated event loop. A
// scripted user dismisses each box a given virtual time after it opened;
// meanwhile the box's modal loop goes on dispatching, as on the desktop.
#pragma once

#include <deque>
#include <string>

#include "app/shell.h"
#include "sim/sim_event_loop.h"

namespace vorlund::sim {

// Records: "InfoBox: <text>", "FailureBox <caption>: <text>", then "InfoBox
// closed" or "FailureBox closed" when the call returns ("... closed by quit"
// when a quit request ended it), "Sleep <ms>", "CloseMainWindow".
class SimShell : public Shell {
  public:
    explicit SimShell(SimEventLoop& loop) : loop_(loop) {}

    // Every box is dismissed this long after it opened (default 0) ...
    void SetDismissDelay(VirtualTime delay) { dismissDelay_ = delay; }
    // ... except the next ones to open, which take these delays in turn.
    void QueueDismissDelay(VirtualTime delay) { queuedDelays_.push_back(delay); }

    void ShowInfoBox(std::string_view text) override;
    void ShowFailureBox(std::string_view caption, std::string_view text) override;
    std::unique_ptr<TickSource> CreateTickSource(std::function<void()> onTick) override;
    void Sleep(unsigned ms) override;
    void CloseMainWindow() override;

  private:
    void RunBox(const std::string& kind);

    SimEventLoop& loop_;
    VirtualTime dismissDelay_ = 0;
    std::deque<VirtualTime> queuedDelays_;
};

}  // namespace vorlund::sim
