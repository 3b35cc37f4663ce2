// Many receive, convert and restart cycles with real conversions on the
// native platform: every export must be right, and nothing may leak or
// drift (the sanitizer build checks the former).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/frm_main.h"
#include "delivery/delivery_hand_off.h"
#include "platform/platform.h"
#include "sim/sim_event_loop.h"
#include "sim/sim_neto_ctl.h"
#include "sim/sim_shell.h"
#include "testing/app_directory.h"

namespace vorlund::sim {
namespace {

constexpr int kCycles = 2000;
constexpr VirtualTime kReceptionTime = 50;  // from Download to the file's arrival

std::string ReceivedFile(int cycle) {
    const std::string code = "art" + std::to_string(cycle);
    return code + ";2\r\nbase;1.5\r\n" + code + ";0.25\r\n";
}

std::string ExpectedExport(int cycle) {
    return "ART" + std::to_string(cycle) + ",2.25\r\nBASE,1.5\r\n";
}

TEST(DownloadSoakTest, ThousandsOfCyclesConvertEveryFile) {
    const testing::TempDir dir;
    ServiceSettings settings = testing::MakeApplicationDirectory(dir);
    settings.OutFile = "export.txt";
    settings.UseOutFile = true;

    SimEventLoop loop;
    SimShell shell(loop);
    SimNetoCtl ctl(loop);
    auto deliveries = DeliveryHandOff::Open(settings, NativePlatform(), '.', NoDeliveryObserver());
    ASSERT_TRUE(deliveries) << deliveries.reason();
    TfrmMain window(shell, ctl, settings, **deliveries, NativePlatform());

    int delivered = 0;
    int correct = 0;
    int boxes = 0;
    ctl.SetOnDownloadAccepted([&] {
        if (delivered < kCycles) {
            const int cycle = delivered++;
            loop.At(loop.Now() + kReceptionTime, [&, cycle] {
                ctl.Deliver(ReceivedFile(cycle));
                if (dir.Read("Out/export.txt") == ExpectedExport(cycle)) {
                    ++correct;
                }
                for (const Record& record : loop.Records()) {
                    boxes += record.what.find("Box") != std::string::npos ? 1 : 0;
                }
                loop.ClearRecords();
            });
        }
    });

    // Each cycle: the file 50 ms after Download, the restart 300 ms later.
    const VirtualTime end = 100 + kCycles * (kReceptionTime + 300);
    loop.RunUntil(end);
    EXPECT_EQ(delivered, kCycles);
    EXPECT_EQ(correct, kCycles);
    EXPECT_EQ(boxes, 0);
    // The last restart, and the reception runs on.
    EXPECT_EQ(loop.Records(),
              (std::vector<Record>{{end, "IsProtocolRunning -> 1"},
                                   {end, "StopRunning"},
                                   {end, "Download &&&&&& " + settings.SpoolDir + " 1 -> 0"}}));
    EXPECT_FALSE(loop.QuitRequested());
}

}  // namespace
}  // namespace vorlund::sim
