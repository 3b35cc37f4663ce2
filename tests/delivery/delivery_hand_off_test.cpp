// The hand-off on the platform of the build, its clocks fixed, one failure of
// the system at a time; a restart is the hand-off opened again on the same
// spool directory.
#include "delivery/delivery_hand_off.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/app_directory.h"
#include "testing/fault_platform.h"
#include "testing/temp_dir.h"

namespace vorlund {
namespace {

using namespace std::string_view_literals;
using Verdict = DeliveryHandOff::Verdict;
using Kind = Settlement::Kind;

constexpr std::int64_t kHour = 60 * 60 * 1000;

// What the operator would read of the ledger.
class LedgerLines final : public DeliveryObserver {
  public:
    void LedgerDamaged(std::string_view what) override { damaged.emplace_back(what); }
    void Recovered(const DeliveryRecord&, std::string_view what) override {
        recovered.emplace_back(what);
    }
    std::vector<std::string> damaged;
    std::vector<std::string> recovered;
};

class DeliveryHandOffTest : public ::testing::Test {
  protected:
    DeliveryHandOffTest() {
        faults.hasClock = true;
        faults.clock = {2026, 12, 8, 14, 15, 3};
        faults.systemTimeMs = &now;
        Open();
    }

    // Opens the hand-off (again, as a restart does) over today's faults.
    void Open() {
        handOff.reset();
        platform = std::make_unique<testing::FaultPlatform>(NativePlatform(), faults);
        auto opened = DeliveryHandOff::Open(settings, *platform, '.', lines);
        ASSERT_TRUE(opened) << opened.reason();
        handOff = std::move(*opened);
    }

    // A transfer as the Linux service receives it.
    Result<Verdict> Receive(std::string_view content, const DeliveryHeader& header,
                            bool continuesBatch = false) {
        Result<IncomingDelivery> incoming = handOff->BeginReceiving(continuesBatch);
        if (!incoming) {
            return Failure{incoming.reason()};
        }
        EXPECT_TRUE(incoming->Append(content));
        return handOff->Commit(std::move(*incoming), header);
    }

    std::vector<std::string> Files(const std::string& folder) const {
        std::vector<std::string> names;
        if (std::filesystem::exists(dir.path() / folder)) {
            for (const auto& entry : std::filesystem::directory_iterator(dir.path() / folder)) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testing::TempDir dir;
    ServiceSettings settings = testing::MakeApplicationDirectory(dir);
    testing::Faults faults;
    LedgerLines lines;
    std::int64_t now = 1'765'000'000'000;
    std::unique_ptr<testing::FaultPlatform> platform;
    std::unique_ptr<DeliveryHandOff> handOff;
};

// Each announced delivery (the Windows road) is recorded and exported once;
// one whose conversion fails is kept under a name never used before, X.DAT
// staying where it is, or the settlement says why it could not be.
TEST_F(DeliveryHandOffTest, AnArrivalIsExportedOrKeptUnderANameOfItsOwn) {
    EXPECT_EQ(handOff->SettleArrival().kind, Kind::kNothingToKeep);

    dir.Write("Spool/X.DAT", "A;1\r\n\x1A\0B"sv);
    EXPECT_EQ(handOff->SettleArrival().kind, Kind::kExported);
    EXPECT_EQ(Files("Out"), std::vector<std::string>{"20261208141503.txt"});
    EXPECT_EQ(handOff->Ledger().Latest()->state, DeliveryState::kExported);

    const char separator = platform->PathSeparator();
    const std::string folder = settings.SpoolDir + separator + "Okonverterade" + separator;
    std::filesystem::remove_all(dir.path() / "Out");
    Settlement kept = handOff->SettleArrival();
    EXPECT_EQ(kept.kind, Kind::kKept);
    EXPECT_EQ(kept.result, "50");
    EXPECT_EQ(kept.keptPath, folder + "20261208-141503-50.DAT");
    EXPECT_EQ(dir.Read("Spool/Okonverterade/20261208-141503-50.DAT"), "A;1\r\n\x1A\0B"sv);
    EXPECT_EQ(dir.Read("Spool/X.DAT"), "A;1\r\n\x1A\0B"sv);
    // The same second again, and a name that is taken by a folder.
    std::filesystem::create_directory(dir.path() / "Spool/Okonverterade/20261208-141503-50-2.DAT");
    EXPECT_EQ(handOff->SettleArrival().keptPath, folder + "20261208-141503-50-3.DAT");

    faults.copy = true;
    Open();
    Settlement notKept = handOff->SettleArrival();
    EXPECT_EQ(notKept.kind, Kind::kNotKept);
    EXPECT_NE(notKept.detail.find(testing::kInjected), std::string::npos);
    EXPECT_EQ(Files("Spool/Okonverterade").size(), 3u);

    // The folder cannot be made.
    faults.copy = false;
    Open();
    std::filesystem::remove_all(dir.path() / "Spool/Okonverterade");
    dir.Write("Spool/Okonverterade", "");
    EXPECT_EQ(handOff->SettleArrival().kind, Kind::kNotKept);
}

// A delivery whose batch did not end may come again from a terminal that
// never heard that it arrived: acknowledged, not exported again, however much
// later, whatever the clock did, across restarts and other terminals'
// deliveries. Once its batch ends, or the batch of its resend does, the same
// header and bytes are a new delivery: a terminal without a clock counts the
// same shelf twice.
TEST_F(DeliveryHandOffTest, OnlyADeliveryOfABatchThatDidNotEndIsTakenForItsResend) {
    const DeliveryHeader a{"A.DAT", 4, "0"};
    const DeliveryHeader b{"B.DAT", 4, ""};
    ASSERT_EQ(*Receive("A;1\n", a), Verdict::kStored);  // its end never heard
    handOff->SettleArrival();
    ASSERT_EQ(*Receive("B;1\n", b), Verdict::kStored);  // another terminal's, ended
    handOff->SettleArrival();
    handOff->EndBatch();
    now -= 3 * kHour;  // a restart with the clock three hours behind
    Open();
    EXPECT_EQ(*Receive("A;1\n", a), Verdict::kRepeated);
    EXPECT_EQ(dir.Read("Spool/X.DAT"), "B;1\n");  // X.DAT keeps the latest delivery
    now += 30 * kHour;
    EXPECT_EQ(*Receive("B;1\n", b), Verdict::kStored);  // the same count again
    handOff->SettleArrival();
    handOff->EndBatch();
    EXPECT_EQ(*Receive("A;1\n", a), Verdict::kRepeated);  // B's batch ended only B's
    ASSERT_EQ(*Receive("C;1\n", {"C.DAT", 4, "0"}, true), Verdict::kStored);
    handOff->SettleArrival();
    handOff->EndBatch();  // the resend's batch ended: A was heard at last
    EXPECT_EQ(*Receive("A;1\n", a), Verdict::kStored);
}

// While X.DAT holds a delivery that neither export nor keep has taken, the
// next transfer is refused; once the fault is put right, it is settled and
// the transfer goes ahead.
TEST_F(DeliveryHandOffTest, AnUnsettledDeliveryTurnsTheNextAway) {
    faults.copy = true;
    Open();
    std::filesystem::remove_all(dir.path() / "Out");
    ASSERT_EQ(*Receive("A;1\n", {"A.DAT", 4, "1"}), Verdict::kStored);
    EXPECT_EQ(handOff->SettleArrival().kind, Kind::kNotKept);
    const Result<IncomingDelivery> refused = handOff->BeginReceiving(false);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.reason().find("neither exported nor kept"), std::string::npos);
    EXPECT_EQ(dir.Read("Spool/X.DAT"), "A;1\n");

    faults.copy = false;
    Open();  // a restart picks it up first
    const std::optional<Settlement> leftOver = handOff->SettleLeftOver();
    ASSERT_TRUE(leftOver);
    EXPECT_EQ(leftOver->kind, Kind::kKept);
    EXPECT_EQ(*Receive("B;1\n", {"B.DAT", 4, "2"}), Verdict::kStored);
}

// An X.DAT the ledger never saw arrive may be a write that did not finish:
// kept, never converted, even when its bytes are those of a delivery settled
// before. At the first start with a ledger, X.DAT is the delivery the program
// before it converted. A record torn by a power cut is cut off, and the rest
// stands; a damaged line with whole lines after it is passed over and said.
TEST_F(DeliveryHandOffTest, StartUpKeepsWhatItNeverSawAndPassesOverDamage) {
    // Stopped first, each time: Windows lets no one else remove or write the
    // ledger while a service holds it.
    handOff.reset();
    std::filesystem::remove(dir.path() / "Spool/Leveranser.log");
    dir.Write("Spool/X.DAT", "A;1\r\n");
    Open();
    EXPECT_EQ(handOff->Ledger().Latest()->state, DeliveryState::kAdopted);
    EXPECT_FALSE(handOff->SettleLeftOver());
    EXPECT_TRUE(Files("Out").empty());

    dir.Write("Spool/X.DAT", "A;1\r\nB;");  // a control that died while writing
    Open();
    EXPECT_EQ(handOff->Ledger().Latest()->state, DeliveryState::kKept);
    EXPECT_EQ(Files("Spool/Okonverterade"), std::vector<std::string>{"20261208-141503-U.DAT"});
    EXPECT_TRUE(Files("Out").empty());

    // The control wrote the same count again, and a crash came before it
    // was announced.
    EXPECT_EQ(handOff->SettleArrival().kind, Kind::kExported);
    handOff.reset();
    const auto written = std::filesystem::last_write_time(dir.path() / "Spool/X.DAT");
    dir.Write("Spool/X.DAT", "A;1\r\nB;");
    std::filesystem::last_write_time(dir.path() / "Spool/X.DAT",
                                     written + std::chrono::seconds(2));
    Open();
    EXPECT_EQ(handOff->Ledger().Latest()->state, DeliveryState::kKept);
    EXPECT_EQ(Files("Spool/Okonverterade").size(), 2u);

    const std::string whole = dir.Read("Spool/Leveranser.log");
    handOff.reset();
    dir.Write("Spool/Leveranser.log", whole + "9 received arrived=17");
    Open();
    // The kept delivery's record stays while its file waits for an operator.
    EXPECT_EQ(handOff->Ledger().Records().size(), 2u);
    EXPECT_EQ(dir.Read("Spool/Leveranser.log"), whole);
    EXPECT_TRUE(lines.damaged.empty());

    // One byte of the first line, long after: the rest all stand, nothing is
    // kept or exported again, and the ledger is written anew without it.
    EXPECT_EQ(handOff->SettleArrival().kind, Kind::kExported);
    const std::vector<std::string> exported = Files("Out");
    handOff.reset();
    std::string damaged = dir.Read("Spool/Leveranser.log");
    damaged[2] ^= 0x20;
    dir.Write("Spool/Leveranser.log", damaged);
    Open();
    ASSERT_EQ(lines.damaged.size(), 1u);
    EXPECT_NE(lines.damaged[0].find("Leveranser.log, line 1: "), std::string::npos);
    EXPECT_EQ(handOff->Ledger().Latest()->state, DeliveryState::kExported);
    EXPECT_FALSE(handOff->SettleLeftOver());
    EXPECT_EQ(Files("Spool/Okonverterade").size(), 2u);
    EXPECT_EQ(Files("Out"), exported);
    Open();
    EXPECT_EQ(lines.damaged.size(), 1u);
}

}  // namespace
}  // namespace vorlund
