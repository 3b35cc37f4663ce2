// The desktop services of the headless service. Nobody is there to press OK,
// so a message box is one line on a stream (stderr in the service) and
// returns at once; timers are timers of the event loop; closing the main
// window ends the loop.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

#include "app/posix/event_loop.h"
#include "app/shell.h"

namespace vorlund {

class PosixShell final : public Shell {
  public:
    PosixShell(EventLoop& loop, std::FILE* messages) : loop_(loop), messages_(messages) {}

    // The text in UTF-8, as one line.
    void ShowInfoBox(std::string_view text) override;
    // "caption: text", in UTF-8, as one line.
    void ShowFailureBox(std::string_view caption, std::string_view text) override;
    std::unique_ptr<TickSource> CreateTickSource(std::function<void()> onTick) override;
    void Sleep(unsigned ms) override;
    void CloseMainWindow() override { loop_.Quit(); }

  private:
    void WriteLine(std::string_view cp1252);

    EventLoop& loop_;
    std::FILE* messages_;
};

}  // namespace vorlund
