// What the main window's logic needs of the desktop. Each platform shell
// (Win32, POSIX) implements it; tests run the logic on a simulated one.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "common/info_box.h"
#include "download/timer.h"

namespace vorlund {

// ShowInfoBox (from InfoBox) and ShowFailureBox are modal: they return once the
// user has dismissed the box, and meanwhile the platform goes on dispatching
// the thread's events (timer ticks, control events, menu commands). A quit
// request also ends an open box, as dialog loops do on Windows.
class Shell : public InfoBox {
  public:

    // A native periodic timer whose ticks arrive through the event loop and
    // call `onTick`. The callback never throws (it goes through the event
    // boundary), so the platform calls it straight from its native tick.
    virtual std::unique_ptr<TickSource> CreateTickSource(std::function<void()> onTick) = 0;

    // Blocks the thread: nothing at all is dispatched meanwhile.
    virtual void Sleep(unsigned ms) = 0;

    // Closes the main window, which asks the event loop to end. The loop ends
    // once the handler that asked has returned; this call returns at once.
    virtual void CloseMainWindow() = 0;

    // The report of a failure that escaped an event handler: a modal box with
    // the stop icon and one OK button, owned by the application's window. The
    // platform cancels any mouse capture first. Texts are code page 1252.
    virtual void ShowFailureBox(std::string_view caption, std::string_view text) = 0;
};

}  // namespace vorlund
