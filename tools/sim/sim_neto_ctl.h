// A scriptable stand-in for the terminal-download control on the simulated
// event loop. It records every call with its virtual time and raises its
// events synchronously, waiting for the handler, as the real control does.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "download/neto_control.h"
#include "sim/sim_event_loop.h"

namespace vorlund::sim {

// Records: "<Property> <value>" for each write ("COMport 1"), "Download <id>
// <RcvDir> <downType> -> <status>", "IsProtocolRunning -> <answer>",
// "StopRunning", "CloseControl", "X.DAT written", "OnProtocolMessage <code>".
class SimNetoCtl : public TNetoCtl {
  public:
    explicit SimNetoCtl(SimEventLoop& loop) : loop_(loop) {}

    // The write of this property ("COMport", ...) throws ControlError.
    void RefuseProperty(std::string name) { refused_.insert(std::move(name)); }
    // The next Download calls answer these statuses in turn, then 0.
    void QueueDownloadStatus(std::int16_t status) { statuses_.push_back(status); }
    // A fixed answer of IsProtocolRunning; without one it answers 1 from an
    // accepted Download until StopRunning.
    void SetRunningAnswer(std::int16_t answer) { runningAnswer_ = answer; }
    // Runs after each accepted Download, e.g. to schedule the next delivery.
    void SetOnDownloadAccepted(std::function<void()> hook) { onAccepted_ = std::move(hook); }

    // Raises OnProtocolMessage now, returning when the handler has finished.
    void Raise(std::int16_t msgCode, std::int16_t final = 1);
    // Writes `content` as X.DAT into the RcvDir of the last Download, then
    // raises code 1000.
    void Deliver(const std::string& content);
    // The same at a virtual time.
    void RaiseAt(VirtualTime time, std::int16_t msgCode, std::int16_t final = 1);
    void DeliverAt(VirtualTime time, std::string content);

    void SetCOMport(std::int16_t value) override { Write("COMport", value); }
    void SetBaudrate(std::int32_t value) override { Write("Baudrate", value); }
    void SetParity(std::int16_t value) override { Write("Parity", value); }
    void SetByteSize(std::int16_t value) override { Write("ByteSize", value); }
    void SetStopBits(std::int16_t value) override { Write("StopBits", value); }
    void SetPollSpeed(std::int32_t value) override { Write("PollSpeed", value); }
    void SetPollTimeout(std::int32_t value) override { Write("PollTimeout", value); }
    void SetRxTxDelay(std::int32_t value) override { Write("RxTxDelay", value); }
    void SetIrDADevice(std::int32_t value) override { Write("IrDADevice", value); }

    std::int16_t Download(const std::u16string& id, const std::u16string& RcvDir,
                          std::int32_t downType) override;
    void StopRunning() override;
    std::int16_t IsProtocolRunning() override;
    void CloseControl() override;

  private:
    void Write(const std::string& name, std::int32_t value);

    SimEventLoop& loop_;
    std::set<std::string> refused_;
    std::deque<std::int16_t> statuses_;
    std::optional<std::int16_t> runningAnswer_;
    std::function<void()> onAccepted_;
    bool running_ = false;
    std::string rcvDir_;
};

}  // namespace vorlund::sim
