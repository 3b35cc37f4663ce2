// The desktop services of the headless service. Nobody is there to press OK,
// so a message box is one error line in the journal and returns at once;
// timers are timers of the event loop; closing the main window ends the loop.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "app/posix/event_loop.h"
#include "app/posix/journal.h"
#include "app/shell.h"

namespace vorlund {

class PosixShell final : public Shell {
  public:
    PosixShell(EventLoop& loop, Journal& journal) : loop_(loop), journal_(journal) {}

    void ShowInfoBox(std::string_view text) override;
    // The text and its detail on one line; a failure that is retried on its
    // own is written at most once a minute.
    void ShowInfoBoxWithDetail(std::string_view text, std::string_view detail,
                               Recurrence recurrence = Recurrence::kOnce) override;
    // "caption: text".
    void ShowFailureBox(std::string_view caption, std::string_view text) override;
    std::unique_ptr<TickSource> CreateTickSource(std::function<void()> onTick) override;
    void Sleep(unsigned ms) override;
    void CloseMainWindow() override { loop_.Quit(); }

    // Where a line says more than a box could: the words a message is
    // written with in place of its own (`text` in, code page 1252 out).
    using Wording = std::function<std::string_view(std::string_view text)>;
    void SetWording(Wording wording) { wording_ = std::move(wording); }

  private:
    std::string_view Worded(std::string_view text) const { return wording_ ? wording_(text) : text; }

    EventLoop& loop_;
    Journal& journal_;
    Wording wording_;
};

}  // namespace vorlund
