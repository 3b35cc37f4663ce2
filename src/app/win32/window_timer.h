// A native periodic timer: SetTimer on a hidden message-only window of its
// own, whose WM_TIMER calls the tick callback through the event loop.
#pragma once

#include <functional>

#include "app/win32/native_window.h"
#include "download/timer.h"

namespace vorlund {

class WindowTimer final : public NativeWindow, public TickSource {
  public:
    explicit WindowTimer(std::function<void()> onTick);
    ~WindowTimer() override;

    void Start(unsigned intervalMs) override;
    void Stop() override;

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    std::function<void()> onTick_;
    bool started_ = false;
};

}  // namespace vorlund
