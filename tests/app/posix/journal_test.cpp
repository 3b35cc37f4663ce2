#include "app/posix/journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/captured_stream.h"

namespace vorlund {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kComPort[] = "Kunde inte \xF6ppna COM-port.";
constexpr char kOpenedAgain[] = "COM-port \xF6ppnad igen";

class JournalTest : public ::testing::Test {
  protected:
    JournalTest() {
        journal_.SetStatusSink([this](const std::string& status) { statuses_.push_back(status); });
    }

    // The line is tried every 300 ms for `duration`, as the cycle does.
    void FailFor(std::chrono::milliseconds duration, const std::string& detail) {
        for (auto end = now_ + duration; now_ < end; now_ += milliseconds(300)) {
            journal_.WriteMessage(kComPort, detail, Recurrence::kRetried);
        }
    }

    Journal::Clock::time_point now_{};
    testing::CapturedStream stream_;
    Journal journal_{stream_.get(), [this] { return now_; }};
    std::vector<std::string> statuses_;
};

TEST_F(JournalTest, ARetriedFaultIsWrittenWhenItStartsOnceAMinuteAndWhenItEnds) {
    journal_.SetStatus("V\xE4ntar p\xE5 leverans", "/dev/ttyUSB0");
    FailFor(seconds(30), "/dev/ttyUSB0: No such file or directory");
    EXPECT_EQ(stream_.Take(),
              "<3>Kunde inte \xC3\xB6ppna COM-port.: /dev/ttyUSB0: No such file or directory\n");
    // A new reason is news at once, counted with the episode's attempts,
    // but not worth more than a line a minute either.
    FailFor(seconds(45), "/dev/ttyUSB0: Permission denied");
    EXPECT_EQ(stream_.Take(),
              "<3>Kunde inte \xC3\xB6ppna COM-port.: /dev/ttyUSB0: Permission denied "
              "(101 f\xC3\xB6rs\xC3\xB6k p\xC3\xA5 30 s)\n");
    now_ += seconds(3);  // the line opened and stayed open
    journal_.EndRecurringFault(kOpenedAgain, "/dev/ttyUSB0");
    EXPECT_EQ(stream_.Take(),
              "<6>COM-port \xC3\xB6ppnad igen: /dev/ttyUSB0 "
              "(efter 250 f\xC3\xB6rs\xC3\xB6k p\xC3\xA5 78 s)\n");
    journal_.EndRecurringFault(kOpenedAgain, "/dev/ttyUSB0");
    EXPECT_EQ(stream_.Take(), "");

    // The state showed the fault while it lasted, then what it replaced.
    EXPECT_EQ(statuses_, (std::vector<std::string>{
                             "V\xC3\xA4ntar p\xC3\xA5 leverans: /dev/ttyUSB0",
                             "Kunde inte \xC3\xB6ppna COM-port.: /dev/ttyUSB0: No such file or "
                             "directory",
                             "Kunde inte \xC3\xB6ppna COM-port.: /dev/ttyUSB0: Permission denied "
                             "(101 f\xC3\xB6rs\xC3\xB6k p\xC3\xA5 30 s)",
                             "V\xC3\xA4ntar p\xC3\xA5 leverans: /dev/ttyUSB0",
                         }));
}

TEST_F(JournalTest, AFlappingLineWritesAtMostALineAMinuteAndEndsOnAnEnd) {
    FailFor(milliseconds(300), "/dev/ttyUSB0: the line hung up");
    journal_.EndRecurringFault(kOpenedAgain, "/dev/ttyUSB0");
    EXPECT_EQ(stream_.Take(),
              "<3>Kunde inte \xC3\xB6ppna COM-port.: /dev/ttyUSB0: the line hung up\n"
              "<6>COM-port \xC3\xB6ppnad igen: /dev/ttyUSB0 (efter 1 f\xC3\xB6rs\xC3\xB6k "
              "p\xC3\xA5 0 s)\n");
    // Failing and recovering again within the minute: counted, not written,
    // and since its start was never written, neither is its end.
    for (int flap = 0; flap < 20; ++flap) {
        now_ += seconds(2);
        FailFor(milliseconds(300), "/dev/ttyUSB0: the line hung up");
        journal_.EndRecurringFault(kOpenedAgain, "/dev/ttyUSB0");
    }
    EXPECT_EQ(stream_.Take(), "");
    // A minute after the last line, the next failure is written again.
    now_ += seconds(30);
    FailFor(milliseconds(600), "/dev/ttyUSB0: the line hung up");
    journal_.EndRecurringFault(kOpenedAgain, "/dev/ttyUSB0");
    EXPECT_EQ(stream_.Take(),
              "<3>Kunde inte \xC3\xB6ppna COM-port.: /dev/ttyUSB0: the line hung up\n"
              "<6>COM-port \xC3\xB6ppnad igen: /dev/ttyUSB0 (efter 2 f\xC3\xB6rs\xC3\xB6k "
              "p\xC3\xA5 0 s)\n");
}

// A terminal retries on its own: each reason of failure is written when
// it first comes, then at most once a minute with how often it came, and a
// transfer that succeeds makes every reason news again.
TEST_F(JournalTest, TransferFailuresAreWrittenOnceAMinutePerReason) {
    const auto fail = [this](const char* name, const char* reason) {
        journal_.WriteTransferFailure("\xD6verf\xF6ringen misslyckades",
                                      std::string(name) + ": " + reason, reason);
        now_ += seconds(10);
    };
    fail("a.dat", "inget svar");
    fail("a.dat", "inget svar");
    fail("b.dat", "nekad: X.DAT holds delivery 3");
    for (int retry = 0; retry < 5; ++retry) {
        fail("a.dat", "inget svar");
    }
    journal_.EndTransferFailures();
    fail("a.dat", "inget svar");
    EXPECT_EQ(stream_.Take(),
              "<4>\xC3\x96verf\xC3\xB6ringen misslyckades: a.dat: inget svar\n"
              "<4>\xC3\x96verf\xC3\xB6ringen misslyckades: b.dat: nekad: X.DAT holds delivery 3\n"
              "<4>\xC3\x96verf\xC3\xB6ringen misslyckades: a.dat: inget svar "
              "(5 g\xC3\xA5nger p\xC3\xA5 50 s)\n"
              "<4>\xC3\x96verf\xC3\xB6ringen misslyckades: a.dat: inget svar\n");
}

TEST_F(JournalTest, FailuresThatAreNotRetriedAreAlwaysWritten) {
    for (int delivery = 0; delivery < 2; ++delivery) {
        journal_.WriteMessage("Fel vid skapande av destinationsfil!",
                              "/srv/Out/x.txt: No space left on device");
    }
    journal_.WriteMessage("Fel vid skapande av destinationsfil!");
    EXPECT_EQ(stream_.Take(),
              "<3>Fel vid skapande av destinationsfil!: /srv/Out/x.txt: No space left on device\n"
              "<3>Fel vid skapande av destinationsfil!: /srv/Out/x.txt: No space left on device\n"
              "<3>Fel vid skapande av destinationsfil!\n");
}

}  // namespace
}  // namespace vorlund
