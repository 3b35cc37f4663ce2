// The hand-off of one delivery, walked step by step the way SQLite tests its
// I/O: every open, write, flush, rename, link and unlink it makes, in turn,
// fails, or ends the process there as a crash or a power cut would. After
// each, the service starts again on what is left, the terminal sends again
// what it was not told had arrived, and the delivery must be in X.DAT and
// exported exactly once (or, where a failure made its conversion fail, kept
// instead), and the delivery before it untouched. The restart finds the
// application directory moved, as an operator may move it, or a service
// started with a relative path sees it under its full one. The same walks
// run where the file system cannot do all of it: without hard links (FAT,
// exFAT), the delivery's export refused, so that it is kept by a copy; and
// on a share whose directories cannot be flushed.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "delivery/delivery_hand_off.h"
#include "download/blocks/block_frames.h"
#include "download/download_session.h"
#include "download/zmodem/zmodem_frame.h"
#include "platform/posix/posix_platform.h"
#include "testing/temp_dir.h"
#include "testing/walking_system_calls.h"

namespace vorlund {
namespace {

using Calls = testing::WalkingSystemCalls;
using Mode = Calls::Mode;
using std::chrono::milliseconds;

// Three blocks, each a step of its own.
std::string Delivery(char letter) {
    std::string content;
    for (int line = 0; line < 30; ++line) {
        content += letter + std::to_string(100 + line) + ";" + std::to_string(line + 1) + "\r\n";
    }
    return content;
}

std::string ExportOf(char letter) {
    std::string content;
    for (int line = 0; line < 30; ++line) {
        content += letter + std::to_string(100 + line) + "," + std::to_string(line + 1) + "\r\n";
    }
    return content;
}

// Where the application directory lies.
enum class Site {
    kDisk,
    kNoHardLinks,     // links refused, and the delivery's export too: kept by copy
    kShare,           // flushing the application directory's folders is refused
};

struct Walked {
    Mode mode;
    Site site;
    LineProtocol protocol = LineProtocol::kYmodem;
};

class CrashWalkTest : public ::testing::TestWithParam<Walked> {
  protected:
    CrashWalkTest() {
        std::filesystem::create_directories(dir.path() / "scratch");
        Place("app");
    }

    // The application directory is `name` in the test's directory.
    void Place(const std::string& name) {
        std::filesystem::create_directories(dir.path() / name / "Spool");
        std::filesystem::create_directories(dir.path() / name / "Out");
        app = name;
        settings.AppDir = dir.Prefix() + name + "/";
        settings.SpoolDir = dir.Prefix() + name + "/Spool";
        settings.OutDir = dir.Prefix() + name + "/Out";
    }

    // One life of the service, in a process of its own: start-up, then the
    // terminal's transfer of `content` (none when empty) and the conversion
    // of what arrived. Returns its exit status: 0, or Calls::kEnded when it
    // ended at its step; 1 when the step failed and it went on.
    int Life(int step, Mode mode, const std::string& content) {
        const std::string acknowledged = dir.Prefix() + "acknowledged";
        std::filesystem::remove(acknowledged);
        const pid_t child = ::fork();
        if (child == 0) {
            Calls::Refusals refusals;
            refusals.links = GetParam().site == Site::kNoHardLinks;
            if (GetParam().site == Site::kShare) {
                refusals.unflushable = settings.AppDir;
            }
            Calls calls(step, mode, dir.Prefix() + "scratch", refusals);
            const std::unique_ptr<Platform> platform = MakePosixPlatform(calls);
            auto handOff = DeliveryHandOff::Open(settings, *platform, '.', NoDeliveryObserver());
            if (handOff) {
                (*handOff)->SettleLeftOver();
                if (!content.empty() && Transfer(**handOff, content)) {
                    std::ofstream(acknowledged).put('A');
                }
            }
            ::_exit(calls.Reached() ? 1 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        acked = std::filesystem::exists(acknowledged);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A sender's transfer of `content`, as sz sends it in the walk's
    // protocol; whether its end was acknowledged. What arrived is converted,
    // as the main window has it.
    static bool Transfer(DeliveryHandOff& handOff, const std::string& content) {
        DownloadSession download(handOff, observer);
        milliseconds now(1000);
        download.Start(now);
        download.TakeOutput();
        const auto send = [&](const std::string& bytes) {
            now += milliseconds(10);
            download.Receive(bytes, now);
            std::string answer = download.TakeOutput();
            if (answer.empty()) {  // an answer that waits for quiet
                now += milliseconds(1000);
                download.Tick(now);
                answer = download.TakeOutput();
            }
            return answer;
        };
        const std::string fields =
            std::string("D.DAT", 6) + std::to_string(content.size()) + " 14000000000 100644";
        bool told = false;
        switch (GetParam().protocol) {
            case LineProtocol::kYmodem:
                send(testing::Header(fields));
                for (std::size_t at = 0, block = 1; at < content.size(); at += 128, ++block) {
                    send(testing::Block(static_cast<std::uint8_t>(block), content.substr(at, 128)));
                }
                told = send("\x04") == "\x06" "C";
                break;
            case LineProtocol::kXmodem:
                for (std::size_t at = 0, block = 1; at < content.size(); at += 128, ++block) {
                    send(testing::Block(static_cast<std::uint8_t>(block), content.substr(at, 128)));
                }
                told = send("\x04") == "\x15" && send("\x04") == "\x06";
                break;
            case LineProtocol::kZmodem: {
                using zmodem::FrameType;
                send(EncodeHexHeader(ZmodemHeader::At(FrameType::kRqInit, 0)));
                send(EncodeBinaryHeader(ZmodemHeader::At(FrameType::kFile, 0), true) +
                     EncodeSubpacket(fields, zmodem::kCrcWait, true));
                std::string data = EncodeBinaryHeader(ZmodemHeader::At(FrameType::kData, 0), true);
                for (std::size_t at = 0; at < content.size(); at += 128) {
                    const bool last = at + 128 >= content.size();
                    data += EncodeSubpacket(content.substr(at, 128),
                                            last ? zmodem::kCrcEnd : zmodem::kCrcGo, true);
                }
                send(data);
                const std::string answer = send(EncodeBinaryHeader(
                    ZmodemHeader::At(FrameType::kEof, static_cast<std::uint32_t>(content.size())),
                    true));
                told = answer.find(EncodeHexHeader(ZmodemHeader::WithFlags(
                           FrameType::kRInit, 0x23))) == 0;
                break;
            }
        }
        if (download.TakeArrival()) {
            handOff.SettleArrival();
        }
        return told;
    }

    std::vector<std::string> Visible(const std::string& folder) const {
        std::vector<std::string> contents;
        if (!std::filesystem::is_directory(dir.path() / app / folder)) {
            return contents;
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir.path() / app / folder)) {
            const std::string name = entry.path().filename().string();
            if (name[0] != '.' && entry.is_regular_file()) {
                contents.push_back(dir.Read(app + "/" + folder + "/" + name));
            }
        }
        return contents;
    }

    // Without hard links, the delivery's export is refused (its folder is
    // missing), so that it is kept, by a copy.
    void RefuseExportWithoutHardLinks() {
        if (GetParam().site == Site::kNoHardLinks) {
            settings.OutDir = dir.Prefix() + app + "/Gone";
        }
    }

    // Walks every step in `mode`; returns the number of steps.
    int Walk(Mode mode) {
        int steps = 0;
        for (int step = 1;; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            std::filesystem::remove_all(dir.path() / "app");
            std::filesystem::remove_all(dir.path() / "moved");
            Place("app");
            EXPECT_EQ(Life(0, mode, Delivery('P')), 0);  // the delivery before
            EXPECT_TRUE(acked);
            RefuseExportWithoutHardLinks();

            const int status = Life(step, mode, Delivery('D'));
            if (status == 0) {
                return steps;  // the whole hand-off ran without reaching the step
            }
            steps = step;
            const bool told = acked;
            // The restart, in the directory moved, and the terminal sending
            // again what it was not told had arrived.
            std::filesystem::rename(dir.path() / "app", dir.path() / "moved");
            Place("moved");
            RefuseExportWithoutHardLinks();
            EXPECT_EQ(Life(0, mode, told ? "" : Delivery('D')), 0);
            EXPECT_TRUE(told || acked) << "the resend was not acknowledged";

            const std::vector<std::string> exports = Visible("Out");
            const std::vector<std::string> kept = Visible("Spool/Okonverterade");
            const auto count = [](const std::vector<std::string>& files, const std::string& of) {
                return std::count(files.begin(), files.end(), of);
            };
            EXPECT_EQ(count(exports, ExportOf('P')), 1) << "the delivery before";
            EXPECT_EQ(count(exports, ExportOf('D')) + count(kept, Delivery('D')), 1)
                << "exported " << count(exports, ExportOf('D')) << ", kept "
                << count(kept, Delivery('D')) << (told ? ", told" : ", not told");
            EXPECT_EQ(exports.size() + kept.size(), 2u);
            EXPECT_EQ(dir.Read(app + "/Spool/X.DAT"), Delivery('D'));
            if (GetParam().site == Site::kNoHardLinks) {
                EXPECT_EQ(count(kept, Delivery('D')), 1) << "its export was refused";
            } else if (mode != Mode::kFail) {
                EXPECT_TRUE(kept.empty()) << "a crash is no reason to keep a delivery";
            }
            if (::testing::Test::HasFailure()) {
                return steps;
            }
        }
    }

    // An operator's settlement of what waits, in a process of its own, as
    // vorlund-convert --settle makes it with no service running (the
    // service runs the same steps itself). Its exit status as Life's.
    int SettleLife(int step, Mode mode) {
        const pid_t child = ::fork();
        if (child == 0) {
            Calls::Refusals refusals;
            refusals.links = GetParam().site == Site::kNoHardLinks;
            Calls calls(step, mode, dir.Prefix() + "scratch", refusals);
            const std::unique_ptr<Platform> platform = MakePosixPlatform(calls);
            auto handOff = DeliveryHandOff::Open(settings, *platform, '.', NoDeliveryObserver(),
                                                 DeliveryHandOff::Writer::kHandOff);
            if (handOff) {
                (*handOff)->SettleWaiting();
            }
            ::_exit(calls.Reached() ? 1 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    testing::TempDir dir;
    std::string app;
    ServiceSettings settings;
    bool acked = false;
    static inline DownloadObserver observer;
};

TEST_P(CrashWalkTest, NothingIsLostOrDoubledWhereverTheHandOffIsInterrupted) {
    const int steps = Walk(GetParam().mode);
    // The staged file, its three blocks, its flush and record, the move into
    // place, the export, its record, its move: the walk must cover them all.
    EXPECT_GE(steps, 20);
    std::printf("crash walk: %d steps\n", steps);
}

// A delivery kept because its export was refused, then settled by an
// operator once the fault is put right, with the n-th step of the
// settlement failing or ending the process: whatever the step, the kept
// file or its export is there, never neither and never two exports, and
// the next settlement finishes it, exporting the delivery exactly once. On
// a disk, the ledger has forgotten the kept delivery's record, as versions
// before this one did once another delivery came.
TEST_P(CrashWalkTest, ASettlementLeavesTheKeptFileOrItsExportWhereverItIsInterrupted) {
    if (GetParam().protocol != LineProtocol::kYmodem) {
        GTEST_SKIP() << "the settlement does not depend on the protocol that brought it";
    }
    const bool forgotten = GetParam().site == Site::kDisk;
    int steps = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        std::filesystem::remove_all(dir.path() / "app");
        Place("app");
        EXPECT_EQ(Life(0, Mode::kCrash, Delivery('P')), 0);
        settings.OutDir = dir.Prefix() + "app/Gone";
        EXPECT_EQ(Life(0, Mode::kCrash, Delivery('D')), 0);
        ASSERT_EQ(Visible("Spool/Okonverterade"), std::vector<std::string>{Delivery('D')});
        settings.OutDir = dir.Prefix() + "app/Out";
        if (forgotten) {
            EXPECT_EQ(Life(0, Mode::kCrash, Delivery('E')), 0);
            std::string kept;
            std::istringstream ledger(dir.Read("app/Spool/Leveranser.log"));
            for (std::string line; std::getline(ledger, line);) {
                if (line.compare(0, 2, "2 ") != 0) {
                    kept += line + "\n";
                }
            }
            dir.Write("app/Spool/Leveranser.log", kept);
        }

        const int status = SettleLife(step, GetParam().mode);
        const auto count = [](const std::vector<std::string>& files, const std::string& of) {
            return std::count(files.begin(), files.end(), of);
        };
        const std::vector<std::string> between = Visible("Out");
        EXPECT_EQ(count(between, ExportOf('D')) + count(Visible("Spool/Okonverterade"), Delivery('D')) >= 1,
                  true)
            << "neither the kept file nor its export";
        EXPECT_LE(count(between, ExportOf('D')), 1);
        if (status == 0) {
            EXPECT_EQ(count(between, ExportOf('D')), 1);
            EXPECT_TRUE(Visible("Spool/Okonverterade").empty());
            break;  // the whole settlement ran without reaching the step
        }
        steps = step;
        EXPECT_EQ(SettleLife(0, GetParam().mode), 0);
        const std::vector<std::string> exports = Visible("Out");
        EXPECT_EQ(count(exports, ExportOf('P')), 1) << "the delivery before";
        EXPECT_EQ(count(exports, ExportOf('D')), 1) << "the settled delivery";
        EXPECT_EQ(exports.size(), forgotten ? 3u : 2u);
        EXPECT_TRUE(Visible("Spool/Okonverterade").empty()) << "the kept file stayed";
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    // The export, its flush and name, its record, its move, its record,
    // the kept file's removal: all of them walked.
    EXPECT_GE(steps, 8);
    std::printf("settlement walk: %d steps\n", steps);
}

// A power cut on a share that cannot flush its folders may take the latest
// name made there with it: that is what such a share costs, and no walk can
// pass it.
INSTANTIATE_TEST_SUITE_P(
    Interruptions, CrashWalkTest,
    ::testing::Values(Walked{Mode::kCrash, Site::kDisk}, Walked{Mode::kPowerCut, Site::kDisk},
                      Walked{Mode::kFail, Site::kDisk}, Walked{Mode::kCrash, Site::kNoHardLinks},
                      Walked{Mode::kPowerCut, Site::kNoHardLinks},
                      Walked{Mode::kFail, Site::kNoHardLinks},
                      Walked{Mode::kCrash, Site::kShare}, Walked{Mode::kFail, Site::kShare},
                      Walked{Mode::kCrash, Site::kDisk, LineProtocol::kZmodem},
                      Walked{Mode::kPowerCut, Site::kDisk, LineProtocol::kZmodem},
                      Walked{Mode::kFail, Site::kDisk, LineProtocol::kZmodem},
                      Walked{Mode::kCrash, Site::kDisk, LineProtocol::kXmodem},
                      Walked{Mode::kPowerCut, Site::kDisk, LineProtocol::kXmodem},
                      Walked{Mode::kFail, Site::kDisk, LineProtocol::kXmodem}),
    [](const ::testing::TestParamInfo<Walked>& walked) {
        const std::string mode = walked.param.mode == Mode::kCrash      ? "Crash"
                                 : walked.param.mode == Mode::kPowerCut ? "PowerCut"
                                                                        : "Failure";
        const std::string site = walked.param.site == Site::kDisk          ? ""
                                 : walked.param.site == Site::kNoHardLinks ? "WithoutHardLinks"
                                                                           : "OnAShare";
        const std::string protocol = walked.param.protocol == LineProtocol::kZmodem   ? "Zmodem"
                                     : walked.param.protocol == LineProtocol::kXmodem ? "Xmodem"
                                                                                      : "";
        return mode + site + protocol;
    });

}  // namespace
}  // namespace vorlund
