// Measures the Linux service from outside, as a terminal sees it: the
// processor time it uses while it waits idle for a delivery, and the time
// from the last byte of a delivery (the sender's final EOT) to the export
// file on disk.
//
//   service_bench VORLUND_BINARY DELIVERY_FILE [IDLE_SECONDS]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "download/blocks/crc16_xmodem.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::string Block(std::uint8_t number, std::string payload, char padding) {
    payload.resize(128, padding);
    std::string block{'\x01', static_cast<char>(number), static_cast<char>(0xFF - number)};
    block += payload;
    const std::uint16_t crc = vorlund::Crc16Xmodem(payload);
    block.push_back(static_cast<char>(crc >> 8));
    block.push_back(static_cast<char>(crc & 0xFF));
    return block;
}

// The terminal's end of the line.
class Line {
  public:
    Line() : fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
            Fail("no pseudo-terminal");
        }
    }
    ~Line() { ::close(fd_); }
    std::string DevicePath() const { return ::ptsname(fd_); }

    void Send(const std::string& bytes) {
        if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            Fail("write to the line");
        }
    }
    // The next byte from the service, or -1 after `timeout`. While the
    // service reopens the line between receptions, the master reports a
    // hang-up; that passes.
    int Receive(std::chrono::milliseconds timeout) {
        const Clock::time_point limit = Clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(limit - Clock::now());
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
                return -1;
            }
            unsigned char byte = 0;
            if (::read(fd_, &byte, 1) == 1) {
                return byte;
            }
            if (Clock::now() >= limit) {
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void Expect(const std::string& bytes) {
        for (char expected : bytes) {
            const int byte = Receive(std::chrono::milliseconds(5000));
            if (byte != static_cast<unsigned char>(expected)) {
                Fail("answer " + std::to_string(byte) + " where " +
                     std::to_string(static_cast<unsigned char>(expected)) + " was due");
            }
        }
    }
    void Drain() {
        while (Receive(std::chrono::milliseconds(0)) >= 0) {
        }
    }

  private:
    int fd_;
};

std::uint64_t CpuNanoseconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
    std::uint64_t onCpu = 0;
    if (!(stat >> onCpu)) {
        Fail("cannot read the service's scheduler statistics");
    }
    return onCpu;
}

// One delivery as sz sends it, up to the acknowledgement of its end; returns
// the time of its last byte.
Clock::time_point Deliver(Line& line, const std::string& content, int round) {
    line.Drain();
    const int request = line.Receive(std::chrono::milliseconds(4000));
    if (request != 'C') {
        Fail("the service did not ask for a file: " + std::to_string(request));
    }
    // Each round a file of its own time, as a terminal's deliveries are: the
    // same file again soon after would be taken for a repeat.
    line.Send(Block(0,
                    std::string("X.DAT") + '\0' + std::to_string(content.size()) + " 1500000" +
                        std::to_string(round),
                    '\0'));
    line.Expect(
        "\x06"
        "C");
    std::uint8_t number = 1;
    for (std::size_t at = 0; at < content.size(); at += 128, ++number) {
        line.Send(Block(number, content.substr(at, 128), '\x1A'));
        line.Expect("\x06");
    }
    // A receiver may refuse the first end once (a sender then repeats it)
    // or take it at once.
    Clock::time_point end = Clock::now();
    line.Send("\x04");
    const int answer = line.Receive(std::chrono::milliseconds(5000));
    if (answer == 0x15) {
        end = Clock::now();
        line.Send("\x04");
        line.Expect("\x06");
    } else if (answer != 0x06) {
        Fail("answer " + std::to_string(answer) + " to the end of the file");
    }
    return end;
}

// A temporary application directory, removed with everything in it.
struct AppDir {
    AppDir() {
        char pattern[] = "/tmp/vorlund-bench.XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            Fail("no temporary directory");
        }
        path = pattern;
    }
    ~AppDir() { fs::remove_all(path); }
    fs::path path;
};

// The service, started in `app` with stderr discarded; killed if it is
// still running when the measurement ends early.
class Service {
  public:
    explicit Service(const fs::path& binary) : pid_(::fork()) {
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            ::execl(binary.c_str(), "vorlund", nullptr);
            ::_exit(127);
        }
    }
    ~Service() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // Closes it as the service manager does; its exit code.
    int Terminate() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(std::exchange(pid_, 0), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_;
};

void Measure(const fs::path& binary, const std::string& content, int idleSeconds) {
    const AppDir app;
    fs::copy_file(binary, app.path / "vorlund");
    Line line;
    std::ofstream(app.path / "Vorlund.ini")
        << "SerialDevice=" << line.DevicePath() << "\nOutFile=export.txt\n";
    Service service(app.path / "vorlund");

    // Start-up and the first reception, then nothing but waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::uint64_t idleStart = CpuNanoseconds(service.pid());
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const std::uint64_t idleCpu = CpuNanoseconds(service.pid()) - idleStart;

    std::vector<double> latencies;
    const fs::path exported = app.path / "Out" / "export.txt";
    for (int round = 0; round < 7; ++round) {
        fs::remove(exported);
        const Clock::time_point lastByte = Deliver(line, content, round);
        while (!fs::exists(exported)) {
            if (Clock::now() - lastByte > std::chrono::seconds(5)) {
                Fail("no export");
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - lastByte).count());
        line.Expect("C");
        line.Send(Block(0, "", '\0'));  // the end of the batch
        line.Expect("\x06");
    }
    const int exitCode = service.Terminate();

    std::sort(latencies.begin(), latencies.end());
    std::printf("idle CPU time over %d s: %.3f ms (target < 10 ms)\n", idleSeconds, idleCpu / 1e6);
    std::printf(
        "last byte of a %zu-byte delivery to export on disk: median %.2f ms, max %.2f ms "
        "(%zu deliveries)\n",
        content.size(), latencies[latencies.size() / 2], latencies.back(), latencies.size());
    std::printf("exit code after SIGTERM: %d\n", exitCode);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: service_bench VORLUND_BINARY DELIVERY_FILE [IDLE_SECONDS]\n");
        return 2;
    }
    std::stringstream delivery;
    delivery << std::ifstream(argv[2], std::ios::binary).rdbuf();
    try {
        Measure(argv[1], delivery.str(), argc > 3 ? std::atoi(argv[3]) : 10);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "service_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
