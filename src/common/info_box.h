// The one way the service tells the user something: a modal box with the
// caption "Info" and the stop icon, which returns once it is dismissed. While
// it is open, the platform keeps dispatching the thread's events.
#pragma once

#include <string_view>

namespace vorlund {

class InfoBox {
  public:
    virtual ~InfoBox() = default;
    // `text` is code page 1252, shown unchanged.
    virtual void ShowInfoBox(std::string_view text) = 0;
};

}  // namespace vorlund
