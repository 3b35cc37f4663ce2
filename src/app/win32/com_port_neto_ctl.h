// NetoCtl1 where Vorlund.ini names a Protocol: Vorlund's own control
// (BuiltInNetoCtl) on the port COM<COMport>.
//
// It is served by window timers on a hidden message-only window of its own:
// one looks at the port, every 10 ms while a sender is heard and every
// 250 ms once the line has been quiet for two seconds; the others are the
// control's deadlines. Any loop that dispatches the thread's messages runs
// them, so the line is served while a message box or the tray menu runs its
// modal loop just as between them, on the program's one thread. Nothing of
// it blocks the thread or waits in another.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "app/built_in_neto_ctl.h"
#include "app/event_boundary.h"
#include "app/win32/native_window.h"
#include "platform/win32/serial_port.h"

namespace vorlund {

class ComPortNetoCtl final : public BuiltInNetoCtl, private NativeWindow {
  public:
    // The clock of the control's deadlines and of the parts of transfers
    // it keeps: milliseconds since the system started.
    static Time MonotonicNow();

    // Each of its events (a look at the port, a deadline) goes through
    // `boundary`.
    ComPortNetoCtl(EventBoundary& boundary, DownloadSession& download, DownloadObserver& observer);
    ~ComPortNetoCtl() override;

    std::string DevicePath() const override { return "COM" + std::to_string(COMport()); }

  private:
    bool SupportsBaudrate(std::int32_t baudrate) const override {
        return SerialPort::SupportsBaudrate(baudrate);
    }
    bool OpenLine(const LineSettings& settings) override;
    void ReleaseLine() override;
    bool LineIsOpen() const override { return port_.IsOpen(); }
    std::int64_t ReadLine(char* buffer, std::size_t size) override;
    std::int64_t WriteLine(std::string_view bytes) override { return port_.Write(bytes); }
    void WriteLastWords(std::string_view bytes) override { port_.WriteAndWait(bytes); }
    std::string LineFailure() const override { return port_.Failure(); }
    // The port is looked at for both anyway.
    void WatchWritable(bool) override {}
    Time Now() const override { return MonotonicNow(); }
    void Schedule(Timer timer, std::optional<Time> due) override;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    static UINT_PTR TimerId(Timer timer);
    // Arms the look at the port for as often as the line asks now.
    void LookAgain();

    EventBoundary& boundary_;
    SerialPort port_;
    Time lastHeard_{};
    UINT lookEvery_ = 0;
};

}  // namespace vorlund
