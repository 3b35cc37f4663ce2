// Every event (a timer tick, a control event, a menu command) runs through
// here. Whatever its handler lets escape is reported in a failure box and
// goes no further: the rest of that handler is skipped, the state stays as the
// handler left it, and the event loop goes on.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/shell.h"

namespace vorlund {

// The text of a failure box: the message, with "." appended when it is not
// empty and its last character has a higher code than "." (so a message
// ending in ".", "!" or ")" stays as it is).
std::string FailureText(std::string_view message);

class EventBoundary {
  public:
    // `caption` is the ApplicationTitle.
    EventBoundary(Shell& shell, std::string caption);

    void Deliver(const std::function<void()>& handler) noexcept;

  private:
    Shell& shell_;
    std::string caption_;
};

}  // namespace vorlund
