// Couples the service's receivers to a real sender through a
// pseudo-terminal pair, as the service does on a serial line, but without
// the service around them: each file goes to a directory, and each session
// ends after a delivery and a new one begins 300 ms later, with the input
// that arrived meanwhile thrown away, as the service's restart does. It
// proves the receivers against lrzsz's sz in all its variants.
//
//   sender_interop DIR [--cut-after BYTES] -- SENDER [ARGS...]
//
// Delivered files become DIR/1.dat, DIR/2.dat, ... A transfer cut off
// leaves its part in DIR/part (with DIR/part.info naming the file), which
// a later run continues when the sender offers the file with crash
// recovery. --cut-after kills the sender once that many bytes of a file are
// in. Each transfer's end is printed as one line:
//
//   delivered PROTOCOL NAME BYTES from RESUMED
//   failed PROTOCOL NAME KIND
//
// The exit status is the sender's.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "download/protocol_recogniser.h"
#include "download/ymodem/ymodem_receiver.h"

namespace {

namespace fs = std::filesystem;
using vorlund::Result;
using vorlund::Status;
using vorlund::TransferSink;
using vorlund::FileOffer;
using Clock = std::chrono::steady_clock;
using Time = vorlund::ProtocolReceiver::Time;

Time Now() {
    return std::chrono::duration_cast<Time>(Clock::now().time_since_epoch());
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Describe(const FileOffer& header) {
    return header.name + "\n" + (header.size ? std::to_string(*header.size) : "-") + "\n" +
           header.modified + "\n";
}

// Files into a directory, a part kept for a resume.
class DirectorySink final : public TransferSink {
  public:
    explicit DirectorySink(fs::path dir) : dir_(std::move(dir)) {}

    Status Begin(const FileOffer& header, bool) override {
        fs::remove(dir_ / "part");
        fs::remove(dir_ / "part.info");
        header_ = header;
        file_.open(dir_ / "incoming", std::ios::binary | std::ios::trunc);
        written_ = 0;
        return {};
    }
    Status Write(std::string_view bytes) override {
        file_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        written_ += bytes.size();
        if (cutAfter_ != 0 && written_ >= cutAfter_) {
            // At once, before the sender can send the rest.
            ::kill(sender_, SIGKILL);
            cutAfter_ = 0;
        }
        return file_ ? Status() : Status(vorlund::Failure{"write failed"});
    }
    Result<Kept> End() override {
        file_.close();
        fs::rename(dir_ / "incoming", dir_ / (std::to_string(++delivered_) + ".dat"));
        return Kept::kStored;
    }
    void Discard() override {
        file_.close();
        fs::remove(dir_ / "incoming");
    }
    std::optional<StagedPart> FindStagedPart(const FileOffer& header) override {
        if (!fs::exists(dir_ / "part") || Read(dir_ / "part.info") != Describe(header)) {
            return std::nullopt;
        }
        const std::string part = Read(dir_ / "part");
        return StagedPart{part.size(), vorlund::Crc32::Of(part)};
    }
    Status Continue(const FileOffer& header, bool) override {
        header_ = header;
        fs::rename(dir_ / "part", dir_ / "incoming");
        fs::remove(dir_ / "part.info");
        written_ = fs::file_size(dir_ / "incoming");
        file_.open(dir_ / "incoming", std::ios::binary | std::ios::app);
        return {};
    }
    void BatchEnded(bool) override {}
    void Suspend() override {
        file_.close();
        fs::rename(dir_ / "incoming", dir_ / "part");
        std::ofstream(dir_ / "part.info") << Describe(header_);
    }

    void CutAfter(std::uint64_t bytes, pid_t sender) {
        cutAfter_ = bytes;
        sender_ = sender;
    }

  private:
    fs::path dir_;
    FileOffer header_;
    std::ofstream file_;
    std::uint64_t written_ = 0;
    int delivered_ = 0;
    std::uint64_t cutAfter_ = 0;
    pid_t sender_ = 0;
};

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char byte : bytes) {
        text += kDigits[static_cast<unsigned char>(byte) >> 4];
        text += kDigits[static_cast<unsigned char>(byte) & 0xF];
    }
    return text;
}

const char* Name(vorlund::LineProtocol protocol) {
    switch (protocol) {
        case vorlund::LineProtocol::kYmodem:
            return "ymodem";
        case vorlund::LineProtocol::kXmodem:
            return "xmodem";
        case vorlund::LineProtocol::kZmodem:
            return "zmodem";
    }
    return "?";
}

// The sender on the pseudo-terminal's far end, its input and output the line.
pid_t StartSender(int master, char** argv) {
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(slave, 0);
        ::dup2(slave, 1);
        ::close(slave);
        ::close(master);
        ::execvp(argv[0], argv);
        ::_exit(127);
    }
    ::close(slave);
    return child;
}

int Run(int argc, char** argv) {
    if (argc < 4) {
        throw std::invalid_argument("usage: sender_interop DIR [--cut-after BYTES] -- SENDER [ARGS...]");
    }
    const fs::path dir = argv[1];
    std::uint64_t cutAfter = 0;  // none
    int at = 2;
    if (std::string(argv[at]) == "--cut-after") {
        cutAfter = std::stoull(argv[at + 1]);
        at += 2;
    }
    if (std::string(argv[at]) != "--") {
        throw std::invalid_argument("-- and the sender expected");
    }
    fs::create_directories(dir);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);

    // VORLUND_INTEROP_TRACE=FILE writes both directions there, for finding
    // out what happened in a failed run.
    const char* tracePath = std::getenv("VORLUND_INTEROP_TRACE");
    std::FILE* trace = tracePath ? std::fopen(tracePath, "w") : nullptr;
    if (trace) {
        std::setvbuf(trace, nullptr, _IOLBF, 0);
    }
    DirectorySink sink(dir);
    std::optional<vorlund::TransferEnding> ending;
    auto session = std::make_unique<vorlund::ProtocolRecogniser>(
        Now(), sink, ending, vorlund::kLargestTransfer);
    // The line is invited before the terminal starts, as a service that
    // waits on its line does; the sender then finds the invitation stale,
    // and its own request is what is answered.
    const std::string invitation = session->TakeOutput();
    if (::write(master, invitation.data(), invitation.size()) < 0) {
        throw std::runtime_error("the line takes nothing");
    }
    ::usleep(100000);
    const pid_t sender = StartSender(master, argv + at + 1);
    sink.CutAfter(cutAfter, sender);
    std::optional<int> status;
    bool restarting = false;
    Time restartAt{};
    Time lastByte = Now();
    for (;;) {
        const Time now = Now();
        if (!status) {
            int raw = 0;
            if (::waitpid(sender, &raw, WNOHANG) == sender) {
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            }
        }
        if (status && now - lastByte > Time(500)) {
            break;  // the sender is gone and the line has gone quiet
        }
        if (restarting && now >= restartAt) {
            // The service's restart: the session ends, what arrived
            // meanwhile is thrown away, and a new one begins.
            restarting = false;
            session->Cancel(now);
            ending = session->LastEnding();
            ::tcflush(master, TCIFLUSH);
            session = std::make_unique<vorlund::ProtocolRecogniser>(
                now, sink, ending, vorlund::kLargestTransfer);
        }
        const std::string output = session->TakeOutput();
        if (trace && !output.empty()) {
            std::fprintf(trace, "%lld > %s\n", static_cast<long long>(now.count()), Hex(output).c_str());
        }
        // A sender that has gone reads nothing more: what it misses is lost,
        // as on a line whose far end is unplugged.
        for (std::size_t sent = 0; !status && sent < output.size();) {
            const ssize_t count = ::write(master, output.data() + sent, output.size() - sent);
            if (count <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(count);
        }
        while (const std::optional<vorlund::TransferOutcome> outcome = session->TakeOutcome()) {
            if (outcome->kind == vorlund::TransferOutcome::Kind::kFileReceived) {
                std::printf("delivered %s %s %llu from %llu\n", Name(outcome->protocol),
                            outcome->name.c_str(), static_cast<unsigned long long>(outcome->bytes),
                            static_cast<unsigned long long>(outcome->resumedFrom));
                restarting = true;
                restartAt = now + Time(300);
            } else {
                std::printf("failed %s %s %d\n", Name(outcome->protocol), outcome->name.c_str(),
                            static_cast<int>(outcome->kind));
            }
            std::fflush(stdout);
        }
        Time wake = now + Time(100);
        if (const std::optional<Time> due = session->NextDeadline()) {
            wake = std::min(wake, *due);
        }
        if (restarting) {
            wake = std::min(wake, restartAt);
        }
        pollfd ready{master, POLLIN, 0};
        const auto wait = std::max<long long>(0, (wake - now).count());
        if (::poll(&ready, 1, static_cast<int>(wait)) > 0 && (ready.revents & POLLIN) != 0) {
            char buffer[4096];
            const ssize_t count = ::read(master, buffer, sizeof buffer);
            if (count > 0) {
                lastByte = Now();
                if (trace) {
                    std::fprintf(trace, "%lld < %s\n", static_cast<long long>(lastByte.count()),
                                 Hex(std::string_view(buffer, static_cast<std::size_t>(count))).c_str());
                }
                session->Receive(std::string_view(buffer, static_cast<std::size_t>(count)), lastByte);
                continue;
            }
        }
        session->Tick(Now());
    }
    session->Cancel(Now());
    while (const std::optional<vorlund::TransferOutcome> outcome = session->TakeOutcome()) {
        std::printf("failed %s %s %d\n", Name(outcome->protocol), outcome->name.c_str(),
                    static_cast<int>(outcome->kind));
    }
    ::close(master);
    if (trace) {
        std::fclose(trace);
    }
    return *status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sender_interop: %s\n", error.what());
        return 70;
    }
}
