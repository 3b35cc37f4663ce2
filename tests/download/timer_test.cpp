// The arming rules of the window's timers, on the simulated clock.
#include "download/timer.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "sim/sim_event_loop.h"
#include "sim/sim_shell.h"

namespace vorlund::sim {
namespace {

class TimerTest : public ::testing::Test {
  protected:
    TTimer MakeTimer() {
        return TTimer([this](std::function<void()> onTick) {
            return shell.CreateTickSource(std::move(onTick));
        });
    }
    void CountTicksOf(TTimer& timer) {
        timer.SetOnTimer([this] { ticks.push_back(loop.Now()); });
    }

    SimEventLoop loop;
    SimShell shell{loop};
    std::vector<VirtualTime> ticks;
};

TEST_F(TimerTest, TicksEveryIntervalUntilDisarmed) {
    TTimer timer = MakeTimer();
    timer.SetInterval(100);
    CountTicksOf(timer);
    timer.SetEnabled(true);
    loop.RunUntil(350);
    timer.SetEnabled(false);
    loop.RunUntil(1000);
    EXPECT_EQ(ticks, (std::vector<VirtualTime>{100, 200, 300}));
}

TEST_F(TimerTest, CountsOnlyWithIntervalAndHandler) {
    TTimer timer = MakeTimer();
    timer.SetEnabled(true);
    timer.SetInterval(100);
    loop.RunUntil(250);  // no handler yet
    CountTicksOf(timer);
    timer.SetInterval(0);
    loop.RunUntil(500);  // no interval
    timer.SetInterval(100);
    loop.RunUntil(650);
    EXPECT_EQ(ticks, (std::vector<VirtualTime>{600}));
}

TEST_F(TimerTest, ArmingAnArmedTimerKeepsItsDueTime) {
    TTimer timer = MakeTimer();
    timer.SetInterval(300);
    timer.SetOnTimer([&] {
        timer.SetEnabled(false);
        ticks.push_back(loop.Now());
    });
    timer.SetEnabled(true);
    loop.At(200, [&] { timer.SetEnabled(true); });
    loop.RunUntil(1000);
    EXPECT_EQ(ticks, (std::vector<VirtualTime>{300}));
}

TEST_F(TimerTest, RearmingAfterADisarmStartsANewCountdown) {
    TTimer timer = MakeTimer();
    timer.SetInterval(300);
    CountTicksOf(timer);
    timer.SetEnabled(true);
    loop.At(200, [&] {
        timer.SetEnabled(false);
        timer.SetEnabled(true);
    });
    loop.At(600, [&] { timer.SetInterval(50); });
    loop.RunUntil(700);
    EXPECT_EQ(ticks, (std::vector<VirtualTime>{500, 650, 700}));
}

TEST_F(TimerTest, TickOfADisarmedTimerIsIgnored) {
    TTimer timer = MakeTimer();
    timer.SetInterval(100);
    CountTicksOf(timer);
    timer.Tick();
    EXPECT_TRUE(ticks.empty());
}

TEST_F(TimerTest, TickLateAfterABlockedThreadComesOnceThenKeepsItsPace) {
    TTimer timer = MakeTimer();
    timer.SetInterval(100);
    CountTicksOf(timer);
    timer.SetEnabled(true);
    loop.At(50, [&] { shell.Sleep(1000); });
    loop.RunUntil(1300);
    EXPECT_EQ(ticks, (std::vector<VirtualTime>{1050, 1150, 1250}));
}

// A native timer that refuses to start while told to, as SetTimer can.
class RefusingSource : public TickSource {
  public:
    RefusingSource(std::unique_ptr<TickSource> source, const bool& refuse)
        : source_(std::move(source)), refuse_(refuse) {}
    void Start(unsigned intervalMs) override {
        if (refuse_) {
            throw std::runtime_error("no timer");
        }
        source_->Start(intervalMs);
    }
    void Stop() override { source_->Stop(); }

  private:
    std::unique_ptr<TickSource> source_;
    const bool& refuse_;
};

TEST_F(TimerTest, ArmingThatTheNativeTimerRefusedCanBeRetried) {
    bool refuse = true;
    TTimer timer([&](std::function<void()> onTick) {
        return std::make_unique<RefusingSource>(shell.CreateTickSource(std::move(onTick)), refuse);
    });
    timer.SetInterval(100);
    CountTicksOf(timer);
    EXPECT_THROW(timer.SetEnabled(true), std::runtime_error);
    EXPECT_FALSE(timer.Enabled());
    refuse = false;
    loop.RunUntil(50);
    timer.SetEnabled(true);
    loop.RunUntil(200);
    EXPECT_EQ(ticks, (std::vector<VirtualTime>{150}));
}

}  // namespace
}  // namespace vorlund::sim
