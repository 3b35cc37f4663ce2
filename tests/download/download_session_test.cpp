// The Linux control's download in virtual time, over the real hand-off in a
// temporary spool directory: what a sender is told at the end of its
// transfer, across line drops and restarts.
#include "download/download_session.h"
#include "download/xmodem/xmodem_receiver.h"
#include "download/ymodem/ymodem_receiver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "download/blocks/block_frames.h"
#include "download/zmodem/zmodem_frames.h"
#include "testing/app_directory.h"

namespace vorlund {
namespace {

using std::chrono::milliseconds;
using namespace std::string_view_literals;

const std::string kAckAndAskForData = "\x06" "C";
const std::string kCancel(8, '\x18');

class DownloadSessionTest : public ::testing::Test {
  protected:
    DownloadSessionTest() { Restart(); }

    // The service starts again: a new hand-off on the same spool directory,
    // and a new control, which remembers nothing of the line.
    void Restart() {
        download.reset();
        handOff.reset();
        auto opened = DeliveryHandOff::Open(settings, NativePlatform(), '.', NoDeliveryObserver());
        ASSERT_TRUE(opened) << opened.reason();
        handOff = std::move(*opened);
        download = std::make_unique<DownloadSession>(*handOff, observer);
        download->Start(now);
        download->TakeOutput();
    }

    // The line drops and comes back: the session ends and a new one begins.
    void DropTheLine() {
        download->Stop(now);
        if (download->TakeArrival()) {
            handOff->SettleArrival();
        }
        download->Start(now);
        download->TakeOutput();
    }

    // Sends `bytes` and returns the answer, once the line has been quiet
    // long enough for one that waits for quiet.
    std::string Send(const std::string& bytes) {
        now += milliseconds(10);
        download->Receive(bytes, now);
        std::string answer = download->TakeOutput();
        if (answer.empty()) {
            now += YmodemReceiver::kByteTimeout;
            download->Tick(now);
            answer = download->TakeOutput();
        }
        return answer;
    }

    // A sender's header and blocks, all acknowledged; its end is up to the test.
    void SendAllButTheEnd(const std::string& name, const std::string& content) {
        ASSERT_EQ(Send(testing::Header(name + '\0' + std::to_string(content.size()))),
                  kAckAndAskForData);
        ASSERT_EQ(Send(testing::Block(1, content)), "\x06");
    }

    testing::TempDir dir;
    ServiceSettings settings = testing::MakeApplicationDirectory(dir);
    DownloadObserver observer;
    milliseconds now{1000};
    std::unique_ptr<DeliveryHandOff> handOff;
    std::unique_ptr<DownloadSession> download;
};

// A sender that missed the acknowledgement of its end repeats the end. It is
// answered again only while the transfer it ends is the last on the line and
// stored: not once another transfer has begun, whose end may have been lost
// with all its blocks in, and not after a restart, which knows nothing of
// the line. The sender that is not answered fails and sends again.
TEST_F(DownloadSessionTest, ARepeatedEndIsAnsweredOnlyWhenItsTransferIsTheStoredOne) {
    SendAllButTheEnd("A.DAT", "A;1\r\n");
    Send("\x04");  // stored; the answer is lost with the line
    DropTheLine();
    EXPECT_EQ(Send("\x04"), kAckAndAskForData);
    EXPECT_EQ(dir.Read("Spool/X.DAT"), "A;1\r\n");

    SendAllButTheEnd("B.DAT", "B;1\r\n");
    DropTheLine();  // before its end came through
    EXPECT_EQ(Send("\x04"), kCancel);
    EXPECT_FALSE(download->TakeArrival());
    EXPECT_EQ(dir.Read("Spool/X.DAT"), "A;1\r\n");

    SendAllButTheEnd("C.DAT", "C;1\r\n");
    Send("\x04");
    EXPECT_TRUE(download->TakeArrival());
    handOff->SettleArrival();
    Restart();
    EXPECT_EQ(Send("\x04"), kCancel);
}

// A sender that ended its batch heard every answer: the same file sent again
// later is a new delivery, raised and converted. One that never heard the
// end of its file (the line dropped just after it) sends it again, days
// later perhaps, after other terminals' deliveries: acknowledged, not raised.
// An end of batch that reaches the service only after a restart still ends
// the batch it belongs to.
TEST_F(DownloadSessionTest, OnlyASenderThatMayNotHaveHeardItsEndIsTakenForARepeat) {
    const auto deliver = [this](const std::string& name) {
        SendAllButTheEnd(name, "A;1\r\n");
        EXPECT_EQ(Send("\x04"), kAckAndAskForData);
        const bool raised = download->TakeArrival();
        if (raised) {
            // Converted, then the cycle restarts the reception.
            handOff->SettleArrival();
            download->Start(now);
            download->TakeOutput();
        }
        return raised;
    };
    const std::string endOfBatch = testing::Block(0, "", 128, '\0');
    EXPECT_TRUE(deliver("A.DAT"));
    EXPECT_EQ(Send(endOfBatch), "\x06");
    EXPECT_TRUE(deliver("A.DAT"));  // the same count, a new delivery
    DropTheLine();                  // before its sender heard the end
    Restart();
    EXPECT_TRUE(deliver("B.DAT"));  // another terminal
    EXPECT_EQ(Send(endOfBatch), "\x06");
    EXPECT_FALSE(deliver("A.DAT"));  // the first sends its file again
    Restart();                       // and the service goes down as it ends its batch
    EXPECT_EQ(Send(endOfBatch), "\x06");
    EXPECT_TRUE(deliver("A.DAT"));
}

// XMODEM has no header and no end of batch: a delivery is a repeat
// candidate by its bytes until its sender, not repeating its end while the
// line stays up, shows that it heard our answer. A resend before that (the
// service restarted just after the commit) is acknowledged, not raised; the
// same lines counted again later are a new delivery.
TEST_F(DownloadSessionTest, AnXmodemDeliveryIsARepeatCandidateUntilItsSenderStopsRepeatingItsEnd) {
    const auto deliver = [this]() {
        EXPECT_EQ(Send(testing::Block(1, "X;1\r\n")), "\x06");
        EXPECT_EQ(Send("\x04"), "\x15");
        EXPECT_EQ(Send("\x04"), "\x06");
        const bool raised = download->TakeArrival();
        if (raised) {
            handOff->SettleArrival();
            download->Start(now);
            download->TakeOutput();
        }
        return raised;
    };
    EXPECT_TRUE(deliver());
    Restart();  // within the sender's retries: it never heard, and sends again
    EXPECT_FALSE(deliver());
    // Its repeats of the end are answered; then the line stays quiet.
    EXPECT_EQ(Send("\x04"), "\x06");
    now += XmodemReceiver::kEndHeardAfter;
    download->Tick(now);
    download->TakeOutput();
    EXPECT_TRUE(deliver());  // a genuine second count with the same lines

    // Another terminal's delivery soon after changes nothing of that count:
    // the same lines a minute later are a new count again.
    SendAllButTheEnd("Q.DAT", "Q;1\r\n");
    EXPECT_EQ(Send("\x04"), kAckAndAskForData);
    EXPECT_TRUE(download->TakeArrival());
    handOff->SettleArrival();
    download->Start(now);
    for (const milliseconds end = now + milliseconds(60000); now < end; now += milliseconds(500)) {
        download->Tick(now);
    }
    download->TakeOutput();
    EXPECT_TRUE(deliver());
}

// Every file of a ZMODEM session is a delivery, identical ones too: the
// next file's offer, made while the one before is converted, is answered
// by the next reception at once, and nothing is ever answered with a ZNAK,
// which not every sender takes. The end of the session ends its batch,
// also when it reaches the service only after a restart, so the same file
// sent later is a new delivery.
TEST_F(DownloadSessionTest, AZmodemSessionIsABatchOfDeliveries) {
    using namespace testing::zmodem_frames;
    std::string said;
    const auto send = [&](const std::string& bytes) {
        std::string answer = Send(bytes);
        said += answer;
        return answer;
    };
    std::string restartSaid;  // what the reception after a conversion says first
    const auto converted = [&] {
        const bool raised = download->TakeArrival();
        if (raised) {
            handOff->SettleArrival();
            download->Start(now);
            restartSaid = download->TakeOutput();
            said += restartSaid;
        }
        return raised;
    };
    const std::string offer = Offer(std::string("A.DAT\0" "4 14000000000", 19));
    EXPECT_EQ(send("rz\r" + Hex(FrameType::kRqInit)), kReady);
    EXPECT_EQ(send(offer), Hex(FrameType::kRPos, 0));
    EXPECT_EQ(send(File("A;1\n")), kReady);
    send(offer);  // the same count again, at once
    EXPECT_TRUE(converted());
    EXPECT_EQ(restartSaid, Hex(FrameType::kRPos, 0));
    EXPECT_EQ(send(File("A;1\n")), kReady);
    EXPECT_TRUE(converted());
    EXPECT_EQ(send(Hex(FrameType::kFin)), Hex(FrameType::kFin));

    EXPECT_EQ(send("rz\r" + Hex(FrameType::kRqInit)), kReady);
    EXPECT_EQ(send(offer), Hex(FrameType::kRPos, 0));
    EXPECT_EQ(send(File("A;1\n")), kReady);
    EXPECT_TRUE(converted());
    Restart();  // before its end of session
    EXPECT_EQ(send(Hex(FrameType::kFin)), Hex(FrameType::kFin));
    EXPECT_EQ(send("rz\r" + Hex(FrameType::kRqInit)), kReady);
    EXPECT_EQ(send(offer), Hex(FrameType::kRPos, 0));
    EXPECT_EQ(send(File("A;1\n")), kReady);
    EXPECT_TRUE(converted());

    // The last file of its batch (so its offer says), its end unheard: the
    // same file offered again, even on our answer to that end, is its
    // sender docked again, not a batch going on: a repeat.
    const std::string last = Offer(std::string("L.DAT\0" "4 14000000000 100644 0 1 4", 31));
    EXPECT_EQ(send("rz\r" + Hex(FrameType::kRqInit)), kReady);
    EXPECT_EQ(send(last), Hex(FrameType::kRPos, 0));
    EXPECT_EQ(send(File("L;1\n")), kReady);
    send(last);
    EXPECT_TRUE(converted());
    EXPECT_EQ(restartSaid, Hex(FrameType::kRPos, 0));
    EXPECT_EQ(send(File("L;1\n")), kReady);
    EXPECT_FALSE(download->TakeArrival());
    EXPECT_EQ(said.find(Hex(FrameType::kNak)), std::string::npos);
}

}  // namespace
}  // namespace vorlund
