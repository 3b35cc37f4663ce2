#include "sim/sim_shell.h"

#include <memory>
#include <optional>
#include <utility>

namespace vorlund::sim {
namespace {

// A periodic timer on the virtual clock. Like a native timer it never queues
// more than one tick: a tick that comes late counts the next interval from
// the moment it was dispatched.
class SimTickSource : public TickSource {
  public:
    SimTickSource(SimEventLoop& loop, std::function<void()> onTick)
        : loop_(loop), onTick_(std::move(onTick)) {}
    ~SimTickSource() override { Stop(); }

    void Start(unsigned intervalMs) override {
        Stop();
        interval_ = intervalMs;
        Schedule();
    }

    void Stop() override {
        if (pending_) {
            loop_.Cancel(*pending_);
            pending_.reset();
        }
    }

  private:
    void Schedule() {
        pending_ = loop_.At(loop_.Now() + interval_, [this] {
            Schedule();
            onTick_();
        });
    }

    SimEventLoop& loop_;
    std::function<void()> onTick_;
    unsigned interval_ = 0;
    std::optional<SimEventLoop::Entry> pending_;
};

}  // namespace

void SimShell::ShowInfoBox(std::string_view text) {
    loop_.Log("InfoBox: " + std::string(text));
    RunBox("InfoBox");
}

void SimShell::ShowFailureBox(std::string_view caption, std::string_view text) {
    loop_.Log("FailureBox " + std::string(caption) + ": " + std::string(text));
    RunBox("FailureBox");
}

void SimShell::RunBox(const std::string& kind) {
    VirtualTime delay = dismissDelay_;
    if (!queuedDelays_.empty()) {
        delay = queuedDelays_.front();
        queuedDelays_.pop_front();
    }
    // Shared with the scheduled dismissal, which may outlive this call when a
    // quit request ends the box first.
    auto dismissed = std::make_shared<bool>(false);
    const auto dismissal = loop_.At(loop_.Now() + delay, [dismissed] { *dismissed = true; });
    loop_.RunModal([&] { return *dismissed; });
    loop_.Cancel(dismissal);
    loop_.Log(kind + (*dismissed ? " closed" : " closed by quit"));
}

std::unique_ptr<TickSource> SimShell::CreateTickSource(std::function<void()> onTick) {
    return std::make_unique<SimTickSource>(loop_, std::move(onTick));
}

void SimShell::Sleep(unsigned ms) {
    loop_.Log("Sleep " + std::to_string(ms));
    loop_.Block(ms);
}

void SimShell::CloseMainWindow() {
    loop_.Log("CloseMainWindow");
    loop_.RequestQuit();
}

}  // namespace vorlund::sim
