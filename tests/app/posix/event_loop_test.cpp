#include "app/posix/event_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace vorlund {
namespace {

using std::chrono::milliseconds;
using Clock = EventLoop::Clock;

struct Pipe {
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        read.reset(fds[0]);
        write.reset(fds[1]);
    }
    void Put(char byte) { EXPECT_EQ(::write(write.get(), &byte, 1), 1); }
    UniqueFd read;
    UniqueFd write;
};

TEST(EventLoopTest, TimersRunAtTheirDueTimeInDueOrder) {
    EventLoop loop;
    std::vector<std::string> ran;
    const auto start = Clock::now();
    const auto late = loop.ScheduleAt(start + milliseconds(60), [&] { ran.push_back("late"); });
    const auto early = loop.ScheduleAt(start + milliseconds(30), [&] { ran.push_back("early"); });
    {
        // A timer goes with its registration.
        const auto dropped = loop.ScheduleAt(start + milliseconds(40), [&] { ran.push_back("x"); });
    }

    loop.RunOnce(start + milliseconds(500));
    EXPECT_EQ(ran, std::vector<std::string>{"early"});
    EXPECT_GE(Clock::now() - start, milliseconds(30));
    loop.RunOnce(start + milliseconds(500));
    EXPECT_EQ(ran, (std::vector<std::string>{"early", "late"}));
    EXPECT_GE(Clock::now() - start, milliseconds(60));
}

TEST(EventLoopTest, WaitingWakesOnlyForWhatIsDue) {
    EventLoop loop;
    Pipe pipe;
    int fired = 0;
    const auto watch = loop.Watch(pipe.read.get(), POLLIN, [](short) {});
    const auto timer = loop.ScheduleAt(Clock::now() + milliseconds(150), [&] { ++fired; });
    // A descriptor that stays quiet and one timer: a single wake-up, at the timer.
    loop.RunOnce(Clock::now() + milliseconds(1000));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(loop.Wakeups(), 1u);
}

TEST(EventLoopTest, ADescriptorCallsItsWatcherWithTheEvents) {
    EventLoop loop;
    Pipe pipe;
    short seen = 0;
    auto watch = loop.Watch(pipe.read.get(), POLLIN, [&](short revents) {
        seen = revents;
        char byte;
        EXPECT_EQ(::read(pipe.read.get(), &byte, 1), 1);
    });
    pipe.Put('x');
    loop.RunOnce(Clock::now() + milliseconds(1000));
    EXPECT_TRUE(seen & POLLIN);

    seen = 0;
    watch.Cancel();
    pipe.Put('y');
    loop.RunOnce(Clock::now() + milliseconds(20));
    EXPECT_EQ(seen, 0);
}

TEST(EventLoopTest, AWatchRemovedDuringTheTurnIsNotCalled) {
    EventLoop loop;
    Pipe first;
    Pipe second;
    int secondCalls = 0;
    EventLoop::Registration secondWatch;
    const auto firstWatch =
        loop.Watch(first.read.get(), POLLIN, [&](short) { secondWatch.Cancel(); });
    secondWatch = loop.Watch(second.read.get(), POLLIN, [&](short) { ++secondCalls; });
    first.Put('a');
    second.Put('b');
    loop.RunOnce(Clock::now() + milliseconds(1000));
    EXPECT_EQ(secondCalls, 0);
}

TEST(EventLoopTest, APostFromACallbackWaitsForTheNextTurn) {
    EventLoop loop;
    int runs = 0;
    EventLoop::Registration next;
    std::function<void()> again = [&] {
        ++runs;
        next = loop.Post(again);
    };
    next = loop.Post(again);
    loop.RunOnce(Clock::now() + milliseconds(100));
    EXPECT_EQ(runs, 1);
    loop.RunOnce(Clock::now() + milliseconds(100));
    EXPECT_EQ(runs, 2);
}

TEST(EventLoopTest, QuitEndsRunAfterTheCallbackThatAsked) {
    EventLoop loop;
    std::vector<int> ran;
    const auto due = Clock::now() + milliseconds(10);
    const auto first = loop.ScheduleAt(due, [&] {
        ran.push_back(1);
        loop.Quit();
        ran.push_back(2);
    });
    const auto second = loop.ScheduleAt(due, [&] { ran.push_back(3); });
    loop.Run();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace vorlund
