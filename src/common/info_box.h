// The one way the service tells the user something: a modal box with the
// caption "Info" and the stop icon, which returns once it is dismissed. While
// it is open, the platform keeps dispatching the thread's events.
#pragma once

#include <string_view>

namespace vorlund {

// Whether a failure will be tried again on its own, over and over.
enum class Recurrence { kOnce, kRetried };

class InfoBox {
  public:
    virtual ~InfoBox() = default;
    // `text` is code page 1252, shown unchanged.
    virtual void ShowInfoBox(std::string_view text) = 0;
    // The same, with what an operator needs to act on it: the path
    // concerned and the system's reason, in the terminal's encoding. Where
    // there is room for it (a line on a console or in a journal) it follows
    // the text after ": "; a box on a desktop shows the text alone. A
    // failure that is retried on its own is not repeated there every time.
    virtual void ShowInfoBoxWithDetail(std::string_view text, std::string_view /*detail*/,
                                       Recurrence /*recurrence*/ = Recurrence::kOnce) {
        ShowInfoBox(text);
    }
};

}  // namespace vorlund
