#include "platform/win32/serial_port.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_files.h"

namespace vorlund {
namespace {

constexpr std::size_t kReadSize = 4096;
// The receivers' answers are a few bytes each; the owner keeps the rest.
constexpr std::size_t kWriteSize = 1024;
// The driver's own queues, each way; a driver may keep sizes of its own.
constexpr DWORD kQueueSize = 4096;
// More than a write's bytes take on the line, for the driver's own delays.
constexpr DWORD kWriteMargin = 100;
// Enough for the system to end an I/O it was told to cancel.
constexpr DWORD kCancelWait = 1000;

// Milliseconds the line needs for `bytes` at `baudrate`, ten bits a byte.
DWORD LineTime(std::size_t bytes, DWORD baudrate) {
    return static_cast<DWORD>((static_cast<unsigned long long>(bytes) * 10 * 1000 + baudrate - 1) /
                              baudrate);
}

// A read ends once the line has been quiet for three characters' time
// after its first byte, or its buffer is full. With no byte it waits for
// ever, so an idle line costs nothing; a read that ends without a byte is
// a line that has gone.
DWORD QuietInterval(DWORD baudrate) {
    return std::max<DWORD>(1, LineTime(3, baudrate));
}

BYTE ParityOf(Parity parity) {
    switch (parity) {
        case Parity::kOdd:
            return ODDPARITY;
        case Parity::kEven:
            return EVENPARITY;
        case Parity::kNone:
            break;
    }
    return NOPARITY;
}

std::string SystemText() {
    return LastSystemFailure().reason;
}

}  // namespace

// What the system reads into and writes from while an I/O is under way: it
// stays at one address, and is freed only once the system is done with it.
struct SerialPort::Io {
    struct Operation {
        OVERLAPPED overlapped{};
        UniqueHandle event;  // set by the system when the I/O ends
        bool underWay = false;
    };

    UniqueHandle port;
    DWORD baudrate = 0;
    Operation read;
    Operation write;
    char received[kReadSize];
    DWORD receivedCount = 0;
    DWORD taken = 0;
    std::string sending;

    bool StartRead(std::string& failure) {
        receivedCount = taken = 0;
        if (!::ReadFile(port.get(), received, kReadSize, nullptr, &read.overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            failure = "read: " + SystemText();
            return false;
        }
        read.underWay = true;
        return true;
    }

    // Waits for the write under way, no longer than its bytes take.
    void AwaitWrite() {
        if (write.underWay && !HasOverlappedIoCompleted(&write.overlapped)) {
            ::WaitForSingleObject(write.event.get(),
                                  LineTime(sending.size(), baudrate) + kWriteMargin);
        }
    }
};

SerialPort SerialPort::Open(const std::string& name, const LineSettings& settings) {
    auto io = std::make_unique<Io>();
    io->port.reset(::CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!io->port) {
        const DWORD error = ::GetLastError();
        std::string text = SystemText();
        // A port is one program's at a time: another that has it open is
        // what a refusal of a port means, nearly always.
        if (error == ERROR_ACCESS_DENIED) {
            text = "held by another program (" + text + ")";
        }
        return Failed(std::move(text));
    }
    if (::GetFileType(io->port.get()) != FILE_TYPE_CHAR) {
        return Failed("not a serial port");
    }
    ::SetupComm(io->port.get(), kQueueSize, kQueueSize);
    DCB line{};
    line.DCBlength = sizeof line;
    if (!::GetCommState(io->port.get(), &line)) {
        return Failed("not a serial port: " + SystemText());
    }
    line.BaudRate = static_cast<DWORD>(settings.baudrate);
    line.ByteSize = static_cast<BYTE>(settings.dataBits);
    line.Parity = ParityOf(settings.parity);
    line.StopBits = settings.twoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = settings.parity != Parity::kNone;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fDsrSensitivity = FALSE;
    line.fTXContinueOnXoff = TRUE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    // A framing or parity error is the protocol's to notice, in its checks;
    // it must not stop the line.
    line.fAbortOnError = FALSE;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = QuietInterval(line.BaudRate);
    if (!::SetCommState(io->port.get(), &line) || !::SetCommTimeouts(io->port.get(), &timeouts)) {
        return Failed("the line settings are refused: " + SystemText());
    }
    // Whatever arrived before we were listening belongs to no transfer of ours.
    ::PurgeComm(io->port.get(), PURGE_RXCLEAR);

    io->baudrate = line.BaudRate;
    for (Io::Operation* operation : {&io->read, &io->write}) {
        operation->event.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!operation->event) {
            return Failed(SystemText());
        }
        operation->overlapped.hEvent = operation->event.get();
    }
    SerialPort port;
    port.io_ = std::move(io);
    if (!port.io_->StartRead(port.failure_)) {
        port.Close();
    }
    return port;
}

SerialPort SerialPort::Failed(std::string failure) {
    SerialPort port;
    port.failure_ = std::move(failure);
    return port;
}

SerialPort::SerialPort() = default;

SerialPort::SerialPort(SerialPort&& other) noexcept
    : io_(std::move(other.io_)), failure_(std::move(other.failure_)) {}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        Close();
        io_ = std::move(other.io_);
        failure_ = std::move(other.failure_);
    }
    return *this;
}

SerialPort::~SerialPort() {
    Close();
}

std::int64_t SerialPort::Read(char* buffer, std::size_t size) {
    Io& io = *io_;
    if (io.taken == io.receivedCount) {
        if (!io.read.underWay && !io.StartRead(failure_)) {
            return -1;
        }
        if (!HasOverlappedIoCompleted(&io.read.overlapped)) {
            return 0;
        }
        DWORD count = 0;
        const BOOL done = ::GetOverlappedResult(io.port.get(), &io.read.overlapped, &count, FALSE);
        io.read.underWay = false;
        if (!done) {
            failure_ = "read: " + SystemText();
            return -1;
        }
        if (count == 0) {
            failure_ = "the line hung up";
            return -1;
        }
        io.receivedCount = count;
    }
    const std::size_t count = std::min<std::size_t>(size, io.receivedCount - io.taken);
    std::memcpy(buffer, io.received + io.taken, count);
    io.taken += static_cast<DWORD>(count);
    return static_cast<std::int64_t>(count);
}

std::int64_t SerialPort::Write(std::string_view bytes) {
    Io& io = *io_;
    if (io.write.underWay) {
        if (!HasOverlappedIoCompleted(&io.write.overlapped)) {
            return 0;
        }
        DWORD count = 0;
        const BOOL done = ::GetOverlappedResult(io.port.get(), &io.write.overlapped, &count, FALSE);
        io.write.underWay = false;
        if (!done) {
            failure_ = "write: " + SystemText();
            return -1;
        }
    }
    if (bytes.empty()) {
        return 0;
    }
    io.sending.assign(bytes.substr(0, kWriteSize));
    if (!::WriteFile(io.port.get(), io.sending.data(), static_cast<DWORD>(io.sending.size()),
                     nullptr, &io.write.overlapped) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        failure_ = "write: " + SystemText();
        return -1;
    }
    io.write.underWay = true;
    return static_cast<std::int64_t>(io.sending.size());
}

void SerialPort::WriteAndWait(std::string_view bytes) {
    if (!io_) {
        return;
    }
    Io& io = *io_;
    io.AwaitWrite();
    if (Write(bytes) > 0) {
        io.AwaitWrite();
    }
}

void SerialPort::Close() {
    if (!io_) {
        return;
    }
    Io& io = *io_;
    io.AwaitWrite();
    ::CancelIoEx(io.port.get(), nullptr);
    bool ended = true;
    for (Io::Operation* operation : {&io.read, &io.write}) {
        if (operation->underWay && !HasOverlappedIoCompleted(&operation->overlapped)) {
            ::WaitForSingleObject(operation->event.get(), kCancelWait);
            ended = ended && HasOverlappedIoCompleted(&operation->overlapped);
        }
    }
    io.port.reset();
    if (!ended) {
        // A driver that will not end an I/O may still write into its
        // buffer: that memory is left to it rather than freed under it.
        static_cast<void>(io_.release());
        return;
    }
    io_.reset();
}

}  // namespace vorlund
