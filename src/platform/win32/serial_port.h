// A COM port opened for overlapped use in raw mode: the LineSettings' rate,
// data bits, parity and stop bits, no flow control, the modem lines ignored
// (DTR and RTS raised, as opening a line raises them on Linux).
//
// Its reads and writes go on in the background, overlapped: a read is
// always under way, and a write of what it was last given. Nothing announces
// their end: the owner looks, as the POSIX port's owner answers poll, by
// reading until Read gives 0 and writing what it has waiting, whenever it
// likes; a look that finds nothing done costs nothing. No thread waits on
// the port, the program's own or the system's: a thread that waits on the
// I/O of another hangs the 32-bit program under the emulated Wine of the
// tests, and one thread keeps the program's model (one thread, no locks).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/line_settings.h"

namespace vorlund {

class SerialPort {
  public:
    // Whatever rate the device takes is the device's to refuse, at Open.
    static bool SupportsBaudrate(std::int32_t baudrate) { return baudrate > 0; }

    // `name` as Windows names the port (COM3); it is opened as \\.\COM3, so
    // COM10 and above work too. A closed port, with its Failure, when the
    // port cannot be opened (missing, held by another program), is not a
    // serial port or refuses the settings.
    static SerialPort Open(const std::string& name, const LineSettings& settings);

    SerialPort();
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    ~SerialPort();

    bool IsOpen() const { return io_ != nullptr; }

    // Bytes that the line brought, copied into `buffer` (the next read
    // begins once they are all taken); 0 while the read is still under way;
    // -1 when the line has failed or hung up.
    std::int64_t Read(char* buffer, std::size_t size);
    // Bytes taken for the next write (0 while the one before is still under
    // way); -1 when the line has failed.
    std::int64_t Write(std::string_view bytes);
    // The last words before Close: `bytes` after whatever is on its way,
    // waiting for them no longer than the line needs to carry them.
    void WriteAndWait(std::string_view bytes);

    // Gives the port up, once a write under way has had its time to leave,
    // so that it can be opened again at once.
    void Close();

    // Why the open, or the latest read or write, failed, in the system's
    // words where it has them ("The system cannot find the file specified").
    const std::string& Failure() const { return failure_; }

  private:
    struct Io;
    static SerialPort Failed(std::string failure);

    std::unique_ptr<Io> io_;
    std::string failure_;
};

}  // namespace vorlund
