#include "app/event_boundary.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "download/neto_control.h"
#include "sim/sim_event_loop.h"
#include "sim/sim_shell.h"

namespace vorlund::sim {
namespace {

TEST(FailureTextTest, DotIsAppendedAfterACharacterAboveIt) {
    EXPECT_EQ(FailureText("Access violation"), "Access violation.");
    EXPECT_EQ(FailureText("Done."), "Done.");
    EXPECT_EQ(FailureText("Stop!"), "Stop!");
    EXPECT_EQ(FailureText("(see above)"), "(see above)");
    EXPECT_EQ(FailureText("a-"), "a-");
    EXPECT_EQ(FailureText("1/"), "1/.");
    EXPECT_EQ(FailureText("fel i f\xE4lt \xE5"), "fel i f\xE4lt \xE5.");
    EXPECT_EQ(FailureText(""), "");
}

class EventBoundaryTest : public ::testing::Test {
  protected:
    EventBoundaryTest() { shell.SetDismissDelay(40); }

    SimEventLoop loop;
    SimShell shell{loop};
    EventBoundary boundary{shell, "Datasvc"};
};

TEST_F(EventBoundaryTest, EscapingFailureIsReportedAndTheRestOfTheHandlerSkipped) {
    bool restRan = false;
    boundary.Deliver([&] {
        throw ControlError("Ogiltigt v\xE4rde");
        restRan = true;
    });
    boundary.Deliver([] { throw 42; });
    boundary.Deliver([] { throw std::bad_alloc(); });
    boundary.Deliver([] {});
    EXPECT_FALSE(restRan);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{0, "FailureBox Datasvc: Ogiltigt v\xE4rde."},
                                                   {40, "FailureBox closed"},
                                                   {40, "FailureBox Datasvc: Unknown exception."},
                                                   {80, "FailureBox closed"},
                                                   {80, "FailureBox Datasvc: std::bad_alloc."},
                                                   {120, "FailureBox closed"}}));
}

TEST_F(EventBoundaryTest, EventsGoOnWhileTheFailureBoxIsOpen) {
    loop.At(10, [&] { boundary.Deliver([] { throw std::runtime_error("first"); }); });
    loop.At(20, [&] { boundary.Deliver([] { throw std::runtime_error("second"); }); });
    loop.RunUntil(1000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{10, "FailureBox Datasvc: first."},
                                                   {20, "FailureBox Datasvc: second."},
                                                   {60, "FailureBox closed"},
                                                   {60, "FailureBox closed"}}));
}

}  // namespace
}  // namespace vorlund::sim
