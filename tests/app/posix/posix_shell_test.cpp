#include "app/posix/posix_shell.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "testing/captured_stream.h"

namespace vorlund {
namespace {

using std::chrono::milliseconds;
using Clock = EventLoop::Clock;

class PosixShellTest : public ::testing::Test {
  protected:
    EventLoop loop_;
    testing::CapturedStream stream_;
    Journal journal_{stream_.get()};
    PosixShell shell_{loop_, journal_};
};

TEST_F(PosixShellTest, BoxesAreSingleUtf8ErrorLinesWithTheirDetail) {
    shell_.ShowInfoBox("Kunde inte \xF6ppna COM-port.");
    shell_.ShowInfoBoxWithDetail("Kunde inte \xF6ppna COM-port.",
                                 "/dev/ttyUSB0: No such file or directory");
    shell_.ShowFailureBox("Vorlund", "Line one\r\nline two.");
    EXPECT_EQ(stream_.Text(),
              "<3>Kunde inte \xC3\xB6ppna COM-port.\n"
              "<3>Kunde inte \xC3\xB6ppna COM-port.: /dev/ttyUSB0: No such file or directory\n"
              "<3>Vorlund: Line one  line two.\n");
}

TEST_F(PosixShellTest, ATickSourceTicksEveryIntervalUntilStopped) {
    int ticks = 0;
    std::unique_ptr<TickSource> source;
    source = shell_.CreateTickSource([&] {
        if (++ticks == 3) {
            source->Stop();  // as a handler disarms its own timer
        }
    });
    const auto start = Clock::now();
    source->Start(40);
    while (Clock::now() - start < milliseconds(300)) {
        loop_.RunOnce(start + milliseconds(300));
    }
    EXPECT_EQ(ticks, 3);
}

TEST_F(PosixShellTest, StartingAgainBeginsANewCountdown) {
    int ticks = 0;
    auto source = shell_.CreateTickSource([&] { ++ticks; });
    const auto start = Clock::now();
    source->Start(100);
    loop_.RunOnce(start + milliseconds(60));
    source->Start(100);
    loop_.RunOnce(start + milliseconds(130));
    EXPECT_EQ(ticks, 0);
    loop_.RunOnce(start + milliseconds(400));
    EXPECT_EQ(ticks, 1);
    EXPECT_GE(Clock::now() - start, milliseconds(160));
}

TEST_F(PosixShellTest, CloseMainWindowEndsTheLoop) {
    const auto close = loop_.Post([&] { shell_.CloseMainWindow(); });
    loop_.Run();
    EXPECT_TRUE(loop_.QuitRequested());
}

TEST_F(PosixShellTest, SleepBlocksForTheWholeTime) {
    const auto start = Clock::now();
    shell_.Sleep(120);
    EXPECT_GE(Clock::now() - start, milliseconds(120));
}

}  // namespace
}  // namespace vorlund
