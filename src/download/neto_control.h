// The service's whole view of the terminal-download control: nine typed
// property writes, the download call with its 16-bit status, the stop and
// running test, the detach from the main window, and the one event it handles.
// The Win32 build hosts the real in-process component behind this; the POSIX
// build puts a serial-line receiver in its place; tests script a stand-in.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace vorlund {

// A property write or call that the component failed outright, as opposed to
// answering with a status. It escapes the handler that made the call and is
// reported at the event boundary.
class ControlError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Parameters of OnProtocolMessage, in the control's order. Only msgCode means
// anything to the service: 30 the COM port cannot be opened, 1000 X.DAT has
// arrived in RcvDir.
struct ProtocolMessage {
    std::int16_t msgCode = 0;
    std::u16string strMessage;
    std::int16_t final = 0;
    std::int16_t COMport = 0;
};

inline constexpr std::int16_t kComPortCannotBeOpened = 30;
inline constexpr std::int16_t kFileReceived = 1000;

class TNetoCtl {
  public:
    using ProtocolMessageHandler = std::function<void(const ProtocolMessage&)>;

    virtual ~TNetoCtl() = default;

    // Each throws ControlError when the component refuses the value.
    virtual void SetCOMport(std::int16_t value) = 0;      // dispatch id 1
    virtual void SetBaudrate(std::int32_t value) = 0;     // 2
    virtual void SetParity(std::int16_t value) = 0;       // 3
    virtual void SetByteSize(std::int16_t value) = 0;     // 4
    virtual void SetStopBits(std::int16_t value) = 0;     // 5
    virtual void SetPollSpeed(std::int32_t value) = 0;    // 6
    virtual void SetPollTimeout(std::int32_t value) = 0;  // 7
    virtual void SetRxTxDelay(std::int32_t value) = 0;    // 8
    virtual void SetIrDADevice(std::int32_t value) = 0;   // 9

    // Below 0: the protocol did not start. Otherwise it runs on after the call
    // and writes the received file as X.DAT into RcvDir.
    virtual std::int16_t Download(const std::u16string& id, const std::u16string& RcvDir,
                                  std::int32_t downType) = 0;
    virtual void StopRunning() = 0;
    // Non-zero while the protocol runs.
    virtual std::int16_t IsProtocolRunning() = 0;
    // Detaches the component from the main window (closing its window, if it
    // has one, without saving); the object itself lives on until teardown.
    virtual void CloseControl() = 0;

    // The control calls the handler synchronously and waits for it to return.
    void SetOnProtocolMessage(ProtocolMessageHandler handler) {
        onProtocolMessage_ = std::move(handler);
    }

  protected:
    void RaiseProtocolMessage(const ProtocolMessage& message) {
        if (onProtocolMessage_) {
            onProtocolMessage_(message);
        }
    }

  private:
    ProtocolMessageHandler onProtocolMessage_;
};

}  // namespace vorlund
