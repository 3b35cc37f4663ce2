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

constexpr std::int64_t kMinute = 60 * 1000;

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
        auto opened = DeliveryHandOff::Open(settings, *platform, '.', NoDeliveryObserver());
        ASSERT_TRUE(opened) << opened.reason();
        handOff = std::move(*opened);
    }

    // A transfer as the Linux service receives it.
    Result<Verdict> Receive(std::string_view content, const DeliveryHeader& header) {
        Result<IncomingDelivery> incoming = handOff->BeginReceiving();
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

// A terminal that missed the last acknowledgement sends the delivery again:
// acknowledged, not converted again, for any delivery of the window and
// after a restart; the same bytes with another modification time, or after
// the window, are a delivery of their own.
TEST_F(DeliveryHandOffTest, RepeatsAreRecognisedThroughoutTheWindowAndAcrossARestart) {
    const DeliveryHeader a{"A.DAT", 4, "14000000000"};
    const DeliveryHeader b{"B.DAT", 4, "14000000001"};
    ASSERT_EQ(*Receive("A;1\n", a), Verdict::kStored);
    handOff->SettleArrival();
    ASSERT_EQ(*Receive("B;1\n", b), Verdict::kStored);
    handOff->SettleArrival();
    now += kMinute;
    EXPECT_EQ(*Receive("A;1\n", a), Verdict::kRepeated);
    EXPECT_EQ(dir.Read("Spool/X.DAT"), "B;1\n");  // X.DAT keeps the latest delivery
    Open();
    now += 9 * kMinute;
    EXPECT_EQ(*Receive("A;1\n", a), Verdict::kRepeated);  // its window began anew
    EXPECT_EQ(*Receive("B;1\n", DeliveryHeader{"B.DAT", 4, "14000000002"}), Verdict::kStored);
    handOff->SettleArrival();
    now += DeliveryHandOff::kRepeatWindow.count() * kMinute + 1;
    EXPECT_EQ(*Receive("A;1\n", a), Verdict::kStored);
    handOff->SettleArrival();
    EXPECT_EQ(Files("Out").size(), 4u);
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
    const Result<IncomingDelivery> refused = handOff->BeginReceiving();
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
// kept, never converted. At the first start with a ledger, X.DAT is the
// delivery the program before it converted. A record torn by a power cut is
// cut off, and the rest stands.
TEST_F(DeliveryHandOffTest, StartUpKeepsWhatItNeverSawAndCutsATornRecord) {
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

    const std::string whole = dir.Read("Spool/Leveranser.log");
    handOff.reset();
    dir.Write("Spool/Leveranser.log", whole + "3 received arrived=17");
    Open();
    EXPECT_EQ(handOff->Ledger().Records().size(), 2u);
    EXPECT_EQ(dir.Read("Spool/Leveranser.log"), whole);
}

}  // namespace
}  // namespace vorlund
