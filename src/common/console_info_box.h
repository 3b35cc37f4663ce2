#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/info_box.h"

namespace vorlund {

// For programs with nobody to press OK: the text goes to a stream as one line,
// in the terminal's encoding, and the call returns at once.
class ConsoleInfoBox : public InfoBox {
  public:
    using TextConverter = std::string (*)(std::string_view cp1252);

    ConsoleInfoBox(std::FILE* stream, TextConverter toTerminal)
        : stream_(stream), toTerminal_(toTerminal) {}
    void ShowInfoBox(std::string_view text) override;
    void ShowInfoBoxWithDetail(std::string_view text, std::string_view detail,
                               Recurrence recurrence = Recurrence::kOnce) override;

  private:
    std::FILE* stream_;
    TextConverter toTerminal_;
};

}  // namespace vorlund
