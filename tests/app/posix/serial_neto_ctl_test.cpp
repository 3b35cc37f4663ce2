#include "app/posix/serial_neto_ctl.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/posix/service_report.h"
#include "common/cp1252.h"
#include "download/blocks/block_frames.h"
#include "platform/posix/unique_fd.h"
#include "testing/app_directory.h"
#include "testing/captured_stream.h"
#include "testing/fault_platform.h"
#include "testing/temp_dir.h"

namespace vorlund {
namespace {

using std::chrono::milliseconds;
using ::testing::HasSubstr;
using testing::Block;
using testing::Header;
using namespace std::string_view_literals;
using Clock = EventLoop::Clock;

const std::string kAck = "\x06";
const std::string kNak = "\x15";
const std::string kEot = "\x04";

// The terminal's end of the line: the master side of a pseudo-terminal whose
// slave the control opens as its serial device.
class Terminal {
  public:
    Terminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        EXPECT_TRUE(master_);
        EXPECT_EQ(::grantpt(master_.get()), 0);
        EXPECT_EQ(::unlockpt(master_.get()), 0);
        slavePath_ = ::ptsname(master_.get());
    }

    const std::string& DevicePath() const { return slavePath_; }
    void Send(std::string_view bytes) {
        EXPECT_EQ(::write(master_.get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string Take() {
        std::string bytes;
        char buffer[256];
        for (ssize_t n; (n = ::read(master_.get(), buffer, sizeof buffer)) > 0;) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }
    void HangUp() { master_.reset(); }

  private:
    UniqueFd master_;
    std::string slavePath_;
};

// The control over a pseudo-terminal, its deliveries settled through the
// hand-off as the main window does, its reports in a captured journal.
class SerialNetoCtlTest : public ::testing::Test {
  protected:
    SerialNetoCtlTest() { Open(NativePlatform(), "Spool"); }

    // (Re)builds the hand-off and the control on the spool folder `spool`.
    void Open(const Platform& platform, const std::string& spool) {
        control_.reset();
        download_.reset();
        handOff_.reset();
        settings_ = testing::MakeApplicationDirectory(temp_, spool);
        spool_ = settings_.SpoolDir;
        auto handOff = DeliveryHandOff::Open(settings_, platform, '.', report_);
        ASSERT_TRUE(handOff) << handOff.reason();
        handOff_ = std::move(*handOff);
        download_ = std::make_unique<DownloadSession>(*handOff_, report_);
        UseDevice(terminal_.DevicePath());
    }

    void UseDevice(const std::string& device) {
        control_ = std::make_unique<SerialNetoCtl>(loop_, *download_, report_, device);
        control_->SetOnProtocolMessage([this](const ProtocolMessage& message) {
            codes_.push_back(message.msgCode);
            messages_.push_back(message.strMessage);
            if (message.msgCode == kFileReceived) {
                handOff_->SettleArrival();
            }
            if (onMessage_) {
                onMessage_();
            }
        });
    }

    std::int16_t Download() { return control_->Download(u"&&&&&&", Cp1252ToUtf16(spool_), 1); }

    // Turns the loop until `done` holds, for at most two seconds.
    bool RunUntil(const std::function<bool()>& done) {
        const auto limit = Clock::now() + milliseconds(2000);
        while (!done() && Clock::now() < limit) {
            loop_.RunOnce(limit);
        }
        return done();
    }
    // Sends `bytes` as the terminal and returns the control's answer, once
    // `expected` many bytes of it have arrived.
    std::string Exchange(std::string_view bytes, std::size_t expected) {
        terminal_.Send(bytes);
        std::string answer;
        RunUntil([&] {
            answer += terminal_.Take();
            return answer.size() >= expected;
        });
        return answer;
    }
    // The control has asked for a header.
    void AwaitRequest() {
        std::string request;
        ASSERT_TRUE(RunUntil([&] { return !(request += terminal_.Take()).empty(); }));
        ASSERT_EQ(request, "C");
    }
    // The terminal announces a file; the control takes it and asks for data.
    void AnnounceFile(std::string_view header) {
        ASSERT_EQ(Exchange(Header(header), 2),
                  "\x06"
                  "C");
    }
    void SendFile(std::string_view header, std::string_view content) {
        ASSERT_NO_FATAL_FAILURE(AnnounceFile(header));
        ASSERT_EQ(Exchange(Block(1, content), 1), kAck);
        // Every announced byte is in: the end is taken at once.
        ASSERT_EQ(Exchange(kEot, 2),
                  "\x06"
                  "C");
    }
    std::vector<std::string> SpoolFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(spool_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    testing::TempDir temp_;
    std::string spool_;
    ServiceSettings settings_;
    Terminal terminal_;
    EventLoop loop_;
    testing::CapturedStream stream_;
    Journal journal_{stream_.get()};
    ServiceManager manager_;
    ServiceReport report_{journal_, manager_, NativePlatform()};
    std::unique_ptr<DeliveryHandOff> handOff_;
    std::unique_ptr<DownloadSession> download_;
    std::unique_ptr<SerialNetoCtl> control_;
    std::vector<std::int16_t> codes_;
    std::vector<std::u16string> messages_;
    std::function<void()> onMessage_;
};

TEST_F(SerialNetoCtlTest, ADeviceThatCannotBeOpenedIsReportedFromTheLoopJustAfter) {
    // Missing, a directory, not a terminal, held by another program; the
    // message that code 30 brings names the device and the reason.
    UniqueFd holder(::open(terminal_.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/nonexistent/ttyS0", "No such file or directory"},
        {spool_, "Is a directory"},
        {"/dev/null", "not a serial line"},
        {terminal_.DevicePath(), "held by another program"},
    };
    for (const auto& [device, reason] : cases) {
        SCOPED_TRACE(device);
        codes_.clear();
        UseDevice(device);
        EXPECT_EQ(Download(), 0);
        EXPECT_TRUE(codes_.empty()) << "raised inside Download";
        EXPECT_EQ(control_->IsProtocolRunning(), 0);
        EXPECT_TRUE(RunUntil([&] { return !codes_.empty(); }));
        EXPECT_EQ(codes_, std::vector<std::int16_t>{kComPortCannotBeOpened});
        EXPECT_EQ(messages_.back(), Cp1252ToUtf16(device + ": " + reason));
    }
    holder.reset();
    UseDevice(terminal_.DevicePath());
    // Stopped before the loop turns, the protocol reports nothing.
    codes_.clear();
    Download();
    control_->StopRunning();
    loop_.RunOnce(Clock::now() + milliseconds(50));
    EXPECT_TRUE(codes_.empty());
}

TEST_F(SerialNetoCtlTest, AFileIsInPlaceAsXDatWhen1000IsRaised) {
    std::string atEvent;
    onMessage_ = [&] { atEvent = temp_.Read("Spool/X.DAT"); };
    EXPECT_EQ(Download(), 0);
    EXPECT_NE(control_->IsProtocolRunning(), 0);
    AwaitRequest();
    SendFile(
        "T.DAT\0"
        "9"sv,
        "A1;2\r\nB;3");
    EXPECT_EQ(codes_, std::vector<std::int16_t>{kFileReceived});
    EXPECT_EQ(atEvent, "A1;2\r\nB;3");
    EXPECT_EQ(SpoolFiles(), (std::vector<std::string>{"Leveranser.log", "X.DAT"}));
    // The protocol runs until it is stopped.
    EXPECT_NE(control_->IsProtocolRunning(), 0);
    control_->StopRunning();
    EXPECT_EQ(control_->IsProtocolRunning(), 0);
}

TEST_F(SerialNetoCtlTest, AnAbortedTransferLeavesXDatAloneAndTheNextOneArrives) {
    temp_.Write("Spool/X.DAT", "previous delivery");
    Download();
    AwaitRequest();
    ASSERT_NO_FATAL_FAILURE(
        AnnounceFile("T.DAT\0"
                     "300"sv));
    ASSERT_EQ(Exchange(Block(1, "partial"), 1), kAck);
    terminal_.Send("\x18\x18\x18\x18\x18");
    loop_.RunOnce(Clock::now() + milliseconds(50));
    EXPECT_TRUE(codes_.empty());
    EXPECT_EQ(temp_.Read("Spool/X.DAT"), "previous delivery");
    EXPECT_EQ(stream_.Text(),
              "<4>\xC3\x96verf\xC3\xB6ringen misslyckades: T.DAT: avbruten av avs\xC3\xA4ndaren\n");

    SendFile(
        "T.DAT\0"
        "4"sv,
        "next");
    EXPECT_EQ(codes_, std::vector<std::int16_t>{kFileReceived});
    EXPECT_EQ(temp_.Read("Spool/X.DAT"), "next");
}

TEST_F(SerialNetoCtlTest, StopRunningCancelsATransferInProgress) {
    Download();
    AwaitRequest();
    ASSERT_NO_FATAL_FAILURE(
        AnnounceFile("T.DAT\0"
                     "300"sv));
    control_->StopRunning();
    EXPECT_EQ(terminal_.Take(), std::string(8, '\x18'));
    EXPECT_EQ(control_->IsProtocolRunning(), 0);
    loop_.RunOnce(Clock::now() + milliseconds(50));
    EXPECT_TRUE(codes_.empty());
    EXPECT_FALSE(temp_.Exists("Spool/X.DAT"));
}

TEST_F(SerialNetoCtlTest, ALineThatHangsUpIsReportedAs30AndLost) {
    Download();
    AwaitRequest();
    EXPECT_FALSE(control_->LineWasLost());
    terminal_.HangUp();
    EXPECT_TRUE(RunUntil([&] { return !codes_.empty(); }));
    EXPECT_EQ(codes_, std::vector<std::int16_t>{kComPortCannotBeOpened});
    EXPECT_TRUE(control_->LineWasLost());
    EXPECT_EQ(control_->IsProtocolRunning(), 0);
    EXPECT_EQ(messages_.back(), Cp1252ToUtf16(terminal_.DevicePath() + ": the line hung up"));
}

TEST_F(SerialNetoCtlTest, AFileThatCannotBeWrittenIsCancelledAndJournaled) {
    testing::Faults faults;
    faults.failWriteNumber = 1;
    const testing::FaultPlatform failing(NativePlatform(), faults);
    Open(failing, "Spool");
    Download();
    AwaitRequest();
    ASSERT_EQ(Exchange(Header("T.DAT\0"
                              "2"sv),
                       2),
              "\x06"
              "C");
    EXPECT_EQ(Exchange(Block(1, "ab"), 8), std::string(8, '\x18'));
    EXPECT_TRUE(codes_.empty());
    EXPECT_FALSE(temp_.Exists("Spool/X.DAT"));
    EXPECT_EQ(stream_.Text(), "<3>Fel vid skapande av destinationsfil!: " + spool_ +
                                  "/X.DAT: " + testing::kInjected + "\n");
}

// The terminal missed the acknowledgement of its end and sends the whole
// delivery again: stored, but not raised, so it is not converted twice.
// Another delivery, or the same one with another modification time, is new.
TEST_F(SerialNetoCtlTest, ADeliveryRepeatedSoonAfterIsNotRaisedAgain) {
    const std::string_view header =
        "T.DAT\0"
        "4 14000000000 100644"sv;
    Download();
    AwaitRequest();
    SendFile(header, "A;1\n");
    control_->StopRunning();
    Download();
    AwaitRequest();
    SendFile(header, "A;1\n");
    EXPECT_EQ(codes_, std::vector<std::int16_t>{kFileReceived});
    EXPECT_THAT(stream_.Text(),
                HasSubstr("<6>Upprepad leverans konverteras inte igen: leverans 1 (T.DAT), 4 byte\n"));
    // The same session takes the next file at once: no restart follows.
    SendFile(
        "T.DAT\0"
        "4 14000000001 100644"sv,
        "A;1\n");
    EXPECT_EQ(codes_, (std::vector<std::int16_t>{kFileReceived, kFileReceived}));
}

// Our acknowledgement of the end is lost and the restart has come before the
// terminal repeats its end: the new session acknowledges it, so the terminal
// finishes instead of sending the delivery again.
TEST_F(SerialNetoCtlTest, AnEndRepeatedAfterTheRestartIsAcknowledged) {
    Download();
    AwaitRequest();
    SendFile(
        "T.DAT\0"
        "1"sv,
        "x");
    control_->StopRunning();
    Download();
    AwaitRequest();
    EXPECT_EQ(Exchange(kEot, 2),
              "\x06"
              "C");
    EXPECT_EQ(codes_, std::vector<std::int16_t>{kFileReceived});
}

TEST_F(SerialNetoCtlTest, ASpoolDirectoryNameOfAnyBytesWorks) {
    Open(NativePlatform(), "Sp\xE5ol\x80");
    Download();
    AwaitRequest();
    SendFile(
        "T.DAT\0"
        "1"sv,
        "x");
    EXPECT_EQ(temp_.Read("Sp\xE5ol\x80/X.DAT"), "x");
}

TEST_F(SerialNetoCtlTest, AFurtherFileOfTheBatchWaitsForTheNextDownload) {
    Download();
    AwaitRequest();
    SendFile(
        "ONE\0"
        "3"sv,
        "one");
    // The sender goes on with its next file: nobody answers it now.
    terminal_.Send(
        Header("TWO\0"
               "3"sv));
    loop_.RunOnce(Clock::now() + milliseconds(100));
    EXPECT_EQ(terminal_.Take(), "");
    EXPECT_EQ(codes_.size(), 1u);

    // The restart asks again, and the sender repeats that header.
    control_->StopRunning();
    Download();
    AwaitRequest();
    SendFile(
        "TWO\0"
        "3"sv,
        "two");
    EXPECT_EQ(codes_, (std::vector<std::int16_t>{kFileReceived, kFileReceived}));
    EXPECT_EQ(temp_.Read("Spool/X.DAT"), "two");
}

TEST_F(SerialNetoCtlTest, ValuesTheLineCannotTakeAreRefused) {
    EXPECT_THROW(control_->SetBaudrate(12345), ControlError);
    EXPECT_THROW(control_->SetParity(3), ControlError);
    EXPECT_THROW(control_->SetByteSize(9), ControlError);
    EXPECT_THROW(control_->SetStopBits(1), ControlError);
    EXPECT_NO_THROW(control_->SetBaudrate(4800));
    EXPECT_NO_THROW(control_->SetStopBits(2));
    EXPECT_NO_THROW(control_->SetIrDADevice(7));

    SerialNetoCtl byNumber(loop_, *download_, report_, "");
    byNumber.SetCOMport(1);
    EXPECT_EQ(byNumber.DevicePath(), "/dev/ttyS0");
    byNumber.SetCOMport(4);
    EXPECT_EQ(byNumber.DevicePath(), "/dev/ttyS3");
}

}  // namespace
}  // namespace vorlund
