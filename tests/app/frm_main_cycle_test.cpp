// The download cycle driven through the main window's logic, one test per
// transition or edge case, each checked against the exact virtual times of
// the control's calls and the boxes.
#include <gtest/gtest.h>

#include "cycle_fixture.h"

namespace vorlund::sim {
namespace {

TEST_F(CycleTest, FirstTickConfiguresOnceAndStartsTheReception) {
    Start();
    EXPECT_TRUE(frm->Timer1.Enabled());
    EXPECT_FALSE(frm->Timer2.Enabled());
    EXPECT_EQ(frm->Timer2.Interval(), 300U);
    loop.RunUntil(99);
    EXPECT_TRUE(loop.Records().empty());

    loop.RunUntil(10000);
    EXPECT_EQ(loop.Records(), Concat(ConfigurationAt(100), {DownloadAt(100)}));
    EXPECT_FALSE(frm->Timer1.Enabled());
    EXPECT_FALSE(frm->Timer2.Enabled());
}

// What a crash left recorded but unconverted goes before the first
// reception, its message included, so nothing new can arrive before it.
TEST_F(CycleTest, ADeliveryLeftOverIsSettledBeforeTheFirstReception) {
    leftOver = true;
    results = {kExportNotCreated};
    Start();
    loop.RunUntil(1000);
    EXPECT_EQ(loop.Records(),
              Concat(Concat({{100, "left over"},
                             {100, "ConvertReceivedFile -> 50"},
                             {100, "KeepFailedDelivery 50 -> kept"},
                             {100, kCannotCreateExport},
                             {350, "InfoBox closed"}},
                            ConfigurationAt(350)),
                     {DownloadAt(350)}));
}

TEST_F(CycleTest, ComPortAndBaudRateFollowTheirIndices) {
    struct Case {
        std::int32_t comPortIndex, baudRateIndex;
        std::string comPort, baudrate;
    };
    // Out of the table's range the rate is the default's rather than garbage;
    // the port index wraps into 16 bits unchecked.
    const Case cases[] = {{0, 0, "COMport 1", "Baudrate 4800"},
                          {3, 1, "COMport 4", "Baudrate 9600"},
                          {-1, 4, "COMport 0", "Baudrate 57600"},
                          {32767, 5, "COMport -32768", "Baudrate 115200"},
                          {2147483647, 6, "COMport 0", "Baudrate 115200"},
                          {1, -1, "COMport 2", "Baudrate 115200"}};
    for (const Case& c : cases) {
        SimEventLoop caseLoop;
        SimShell caseShell(caseLoop);
        SimNetoCtl caseCtl(caseLoop);
        ServiceSettings caseSettings;
        caseSettings.ComPortIndex = c.comPortIndex;
        caseSettings.BaudRateIndex = c.baudRateIndex;
        TfrmMain window(caseShell, caseCtl, caseSettings, *this, "Datasvc", u"");
        caseLoop.RunUntil(100);
        ASSERT_GE(caseLoop.Records().size(), 2U);
        EXPECT_EQ(caseLoop.Records()[0].what, c.comPort) << c.comPortIndex;
        EXPECT_EQ(caseLoop.Records()[1].what, c.baudrate) << c.baudRateIndex;
    }
}

TEST_F(CycleTest, RefusedFirstStartShowsItsMessageThenCloses) {
    ctl.QueueDownloadStatus(-1);
    Start();
    loop.RunUntil(100000);
    EXPECT_EQ(loop.Records(), Concat(ConfigurationAt(100), {DownloadAt(100, -1),
                                                            {100, kCannotStart},
                                                            {350, "InfoBox closed"},
                                                            {350, "CloseControl"},
                                                            {350, "Sleep 1000"},
                                                            {1350, "CloseMainWindow"}}));
    EXPECT_TRUE(loop.QuitRequested());
    EXPECT_FALSE(frm->Timer2.Enabled());
}

TEST_F(CycleTest, ReceivedFileIsConvertedAndTheReceptionRestarted300msLater) {
    StartReceiving();
    for (const std::int16_t final : {1, 0}) {
        loop.ClearRecords();
        const VirtualTime t = loop.Now() + 400;
        ctl.RaiseAt(t, kFileReceived, final);
        loop.RunUntil(t + 299);
        EXPECT_TRUE(frm->Timer2.Enabled()) << final;
        loop.RunUntil(t + 1000);
        EXPECT_EQ(loop.Records(), (std::vector<Record>{{t, "OnProtocolMessage 1000"},
                                                       {t, "ConvertReceivedFile -> 0"},
                                                       {t + 300, "IsProtocolRunning -> 1"},
                                                       {t + 300, "StopRunning"},
                                                       DownloadAt(t + 300)}))
            << final;
    }
}

TEST_F(CycleTest, RestartStopsTheProtocolOnlyWhenItRuns) {
    StartReceiving();
    ctl.SetRunningAnswer(0);
    ctl.RaiseAt(500, kFileReceived);
    loop.RunUntil(2000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 1000"},
                                                   {500, "ConvertReceivedFile -> 0"},
                                                   {800, "IsProtocolRunning -> 0"},
                                                   DownloadAt(800)}));
}

// The delivery is kept before the message is shown, so that it is safe
// whatever happens while the box is open; only a copy that fails changes the
// message, which keeps its first sentence.
TEST_F(CycleTest, FailedConversionKeepsTheDeliveryAndRestartsAfterItsMessage) {
    results = {kExportNotCreated};
    StartReceiving();
    ctl.RaiseAt(500, kFileReceived);
    loop.RunUntil(2000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 1000"},
                                                   {500, "ConvertReceivedFile -> 50"},
                                                   {500, "KeepFailedDelivery 50 -> kept"},
                                                   {500, kCannotCreateExport},
                                                   {750, "InfoBox closed"},
                                                   {1050, "IsProtocolRunning -> 1"},
                                                   {1050, "StopRunning"},
                                                   DownloadAt(1050)}));
}

TEST_F(CycleTest, ADeliveryThatCannotBeKeptEitherIsSaidToBeInDanger) {
    results = {kWriteFailedInCodeOrder};
    keepResult = KeepResult::kNotKept;
    StartReceiving();
    ctl.RaiseAt(500, kFileReceived);
    loop.RunUntil(600);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 1000"},
                                                   {500, "ConvertReceivedFile -> 52"},
                                                   {500, "KeepFailedDelivery 52 -> not kept"},
                                                   {500, kCannotCreateExportNorKeep},
                                                   {750, "InfoBox closed"}}));
}

TEST_F(CycleTest, ASettlementEndingInAnErrorCountsAsAFailedConversion) {
    conversionThrows = true;
    StartReceiving();
    ctl.RaiseAt(500, kFileReceived);
    loop.RunUntil(2000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 1000"},
                                                   {500, "ConvertReceivedFile throws"},
                                                   {500, kCannotCreateExportNorKeep},
                                                   {750, "InfoBox closed"},
                                                   {1050, "IsProtocolRunning -> 1"},
                                                   {1050, "StopRunning"},
                                                   DownloadAt(1050)}));
}

TEST_F(CycleTest, PortThatCannotBeOpenedIsRetriedForAsLongAsItIsReported) {
    StartReceiving();
    ctl.SetOnDownloadAccepted([this] { ctl.RaiseAt(loop.Now() + 10, kComPortCannotBeOpened); });
    ctl.RaiseAt(500, kComPortCannotBeOpened);
    loop.RunUntil(1060);  // the box's own loop runs on to its dismissal
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 30"},
                                                   {500, kCannotOpenPort},
                                                   {750, "InfoBox closed"},
                                                   {1050, "IsProtocolRunning -> 1"},
                                                   {1050, "StopRunning"},
                                                   DownloadAt(1050),
                                                   {1060, "OnProtocolMessage 30"},
                                                   {1060, kCannotOpenPort},
                                                   {1310, "InfoBox closed"}}));
    loop.RunUntil(1000000);
    EXPECT_FALSE(loop.QuitRequested());
}

TEST_F(CycleTest, OtherCodesChangeNothing) {
    StartReceiving();
    for (const std::int16_t code : {0, 999, 2000, -1, 31, 1001}) {
        ctl.Raise(code);
        EXPECT_FALSE(frm->Timer2.Enabled()) << code;
    }
    loop.RunUntil(100000);
    EXPECT_EQ(loop.Records().size(), 6U);
}

TEST_F(CycleTest, TwoFilesInARowGiveTwoConversionsAndOneRestart) {
    StartReceiving();
    ctl.RaiseAt(500, kFileReceived);
    ctl.RaiseAt(600, kFileReceived);
    loop.RunUntil(5000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 1000"},
                                                   {500, "ConvertReceivedFile -> 0"},
                                                   {600, "OnProtocolMessage 1000"},
                                                   {600, "ConvertReceivedFile -> 0"},
                                                   {800, "IsProtocolRunning -> 1"},
                                                   {800, "StopRunning"},
                                                   DownloadAt(800)}));
}

TEST_F(CycleTest, MessageWhileARestartIsPendingKeepsItsDueTime) {
    StartReceiving();
    ctl.RaiseAt(500, kFileReceived);
    ctl.RaiseAt(700, kComPortCannotBeOpened);
    shell.QueueDismissDelay(50);
    loop.RunUntil(5000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 1000"},
                                                   {500, "ConvertReceivedFile -> 0"},
                                                   {700, "OnProtocolMessage 30"},
                                                   {700, kCannotOpenPort},
                                                   {750, "InfoBox closed"},
                                                   {800, "IsProtocolRunning -> 1"},
                                                   {800, "StopRunning"},
                                                   DownloadAt(800)}));
}

TEST_F(CycleTest, RefusedRestartShowsItsMessageThenCloses) {
    StartReceiving();
    ctl.QueueDownloadStatus(-2);
    ctl.RaiseAt(500, kFileReceived);
    loop.RunUntil(100000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 1000"},
                                                   {500, "ConvertReceivedFile -> 0"},
                                                   {800, "IsProtocolRunning -> 1"},
                                                   {800, "StopRunning"},
                                                   DownloadAt(800, -2),
                                                   {800, kCannotRestart},
                                                   {1050, "InfoBox closed"},
                                                   {1050, "CloseControl"},
                                                   {1050, "Sleep 1000"},
                                                   {2050, "CloseMainWindow"}}));
    EXPECT_TRUE(loop.QuitRequested());
}

TEST_F(CycleTest, CloseWhileReceivingStopsWaitsAndClosesWithoutDownload) {
    StartReceiving();
    ChooseCloseAt(500);
    // Due during the one-second wait: blocked, and never handled once the
    // window has closed.
    ctl.RaiseAt(1300, kFileReceived);
    loop.RunUntil(100000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "close item chosen"},
                                                   {800, "IsProtocolRunning -> 1"},
                                                   {800, "StopRunning"},
                                                   {800, "CloseControl"},
                                                   {800, "Sleep 1000"},
                                                   {1800, "CloseMainWindow"}}));
    EXPECT_TRUE(loop.QuitRequested());
    EXPECT_TRUE(frm->CloseRequested());
}

TEST_F(CycleTest, CloseWhileTheProtocolHasEndedSkipsTheStop) {
    StartReceiving();
    ctl.SetRunningAnswer(0);
    ChooseCloseAt(500);
    loop.RunUntil(100000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "close item chosen"},
                                                   {800, "IsProtocolRunning -> 0"},
                                                   {800, "CloseControl"},
                                                   {800, "Sleep 1000"},
                                                   {1800, "CloseMainWindow"}}));
}

TEST_F(CycleTest, CloseWhileARestartIsPendingClosesAtThePendingTick) {
    StartReceiving();
    ctl.RaiseAt(500, kFileReceived);
    ChooseCloseAt(600);
    loop.RunUntil(100000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 1000"},
                                                   {500, "ConvertReceivedFile -> 0"},
                                                   {600, "close item chosen"},
                                                   {800, "IsProtocolRunning -> 1"},
                                                   {800, "StopRunning"},
                                                   {800, "CloseControl"},
                                                   {800, "Sleep 1000"},
                                                   {1800, "CloseMainWindow"}}));
}

TEST_F(CycleTest, CloseChosenWhileABoxIsOpenClosesAtTheNextTimer2Tick) {
    StartReceiving();
    shell.QueueDismissDelay(5000);
    ctl.RaiseAt(500, kComPortCannotBeOpened);
    ChooseCloseAt(1000);
    loop.RunUntil(100000);
    // The close runs inside the box's loop; the quit request then ends the
    // box, and no restart follows.
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{500, "OnProtocolMessage 30"},
                                                   {500, kCannotOpenPort},
                                                   {1000, "close item chosen"},
                                                   {1300, "IsProtocolRunning -> 1"},
                                                   {1300, "StopRunning"},
                                                   {1300, "CloseControl"},
                                                   {1300, "Sleep 1000"},
                                                   {2300, "CloseMainWindow"},
                                                   {2300, "InfoBox closed by quit"}}));
}

TEST_F(CycleTest, RefusedPropertyHaltsTheCycleUntilTheCloseCommand) {
    ctl.RefuseProperty("PollSpeed");
    Start();
    loop.RunUntil(100000);
    std::vector<Record> writes = ConfigurationAt(100);
    writes.resize(6);  // up to PollSpeed
    EXPECT_EQ(
        loop.Records(),
        Concat(writes, {{100, "FailureBox Datasvc: The control refuses the value of PollSpeed."},
                        {350, "FailureBox closed"}}));
    EXPECT_FALSE(frm->Timer1.Enabled());
    EXPECT_FALSE(frm->Timer2.Enabled());

    loop.ClearRecords();
    ChooseCloseAt(200000);
    loop.RunUntil(300000);
    EXPECT_EQ(loop.Records(), (std::vector<Record>{{200000, "close item chosen"},
                                                   {200300, "IsProtocolRunning -> 0"},
                                                   {200300, "CloseControl"},
                                                   {200300, "Sleep 1000"},
                                                   {201300, "CloseMainWindow"}}));
}

TEST_F(CycleTest, CloseChosenWhileTheRefusedStartIsShownClosesTwice) {
    // Timer2's close ends the open box with its quit request; the first
    // start's handler then goes on with its own close sequence. The detach
    // is harmless a second time, and the loop ends after it all the same.
    ctl.QueueDownloadStatus(-1);
    shell.QueueDismissDelay(5000);
    Start();
    ChooseCloseAt(400);
    loop.RunUntil(100000);
    EXPECT_EQ(loop.Records(), Concat(ConfigurationAt(100), {DownloadAt(100, -1),
                                                            {100, kCannotStart},
                                                            {400, "close item chosen"},
                                                            {700, "IsProtocolRunning -> 0"},
                                                            {700, "CloseControl"},
                                                            {700, "Sleep 1000"},
                                                            {1700, "CloseMainWindow"},
                                                            {1700, "InfoBox closed by quit"},
                                                            {1700, "CloseControl"},
                                                            {1700, "Sleep 1000"},
                                                            {2700, "CloseMainWindow"}}));
}

}  // namespace
}  // namespace vorlund::sim
