// A serial line opened for non-blocking use in raw mode: no echo, no line
// editing, no translation of bytes, no flow control, modem lines ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/line_settings.h"
#include "platform/posix/device_lock_file.h"
#include "platform/posix/unique_fd.h"

namespace vorlund {

class SerialPort {
  public:
    // Whether the line can run at this many bits per second.
    static bool SupportsBaudrate(std::int32_t baudrate);

    // A closed port, with its Failure, when the device cannot be opened, is
    // not a terminal, is held by another program (by a lock file in
    // `lockDirectory`, a flock(2) or record lock, or the exclusive mode), or
    // refuses the settings. An open port holds the locks, and a real line
    // (not a pseudo-terminal) the exclusive mode too.
    static SerialPort Open(const std::string& device, const LineSettings& settings,
                           const std::string& lockDirectory = kDeviceLockDirectory);

    SerialPort() = default;
    SerialPort(SerialPort&&) = default;
    SerialPort& operator=(SerialPort&& other) noexcept;
    ~SerialPort() { Close(); }

    bool IsOpen() const { return static_cast<bool>(fd_); }
    int Descriptor() const { return fd_.get(); }

    // Bytes read into `buffer`; 0 when nothing is waiting; -1 when the line
    // has failed or hung up.
    std::int64_t Read(char* buffer, std::size_t size);
    // Bytes taken by the line, possibly fewer than offered (0 when it cannot
    // take more now); -1 when the line has failed.
    std::int64_t Write(std::string_view bytes);

    // Gives the device up, exclusive mode and lock file included, so that it
    // can be opened again at once.
    void Close();

    // Why the open, or the latest read or write, failed, in the system's
    // words where it has them ("No such file or directory").
    const std::string& Failure() const { return failure_; }

  private:
    explicit SerialPort(UniqueFd fd) : fd_(std::move(fd)) {}
    static SerialPort Failed(std::string failure);

    UniqueFd fd_;
    DeviceLockFile lockFile_;
    std::string failure_;
};

}  // namespace vorlund
