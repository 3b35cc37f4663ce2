// NetoCtl1 where Vorlund.ini names a Protocol: Vorlund's own control
// (BuiltInNetoCtl) on the port COM<COMport>. The port's news and the
// control's timers come as messages to a hidden message-only window of its
// own, so the line is served and its deadlines kept while a message box or
// the tray menu runs its modal loop, just as between them; nothing of it
// blocks the thread or polls.
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

    // Each of its events (the port's news, a timer) goes through `boundary`.
    ComPortNetoCtl(EventBoundary& boundary, DownloadSession& download, DownloadObserver& observer);
    ~ComPortNetoCtl() override;

    std::string DevicePath() const override { return "COM" + std::to_string(COMport()); }

  private:
    bool SupportsBaudrate(std::int32_t baudrate) const override {
        return SerialPort::SupportsBaudrate(baudrate);
    }
    bool OpenLine(const LineSettings& settings) override;
    void ReleaseLine() override { port_.Close(); }
    bool LineIsOpen() const override { return port_.IsOpen(); }
    std::int64_t ReadLine(char* buffer, std::size_t size) override {
        return port_.Read(buffer, size);
    }
    std::int64_t WriteLine(std::string_view bytes) override { return port_.Write(bytes); }
    void WriteLastWords(std::string_view bytes) override { port_.WriteAndWait(bytes); }
    std::string LineFailure() const override { return port_.Failure(); }
    // Every write that ends is announced anyway.
    void WatchWritable(bool) override {}
    Time Now() const override { return MonotonicNow(); }
    void Schedule(Timer timer, std::optional<Time> due) override;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    static UINT_PTR TimerId(Timer timer);

    EventBoundary& boundary_;
    SerialPort port_;
};

}  // namespace vorlund
