#include "common/console_info_box.h"

namespace vorlund {

void ConsoleInfoBox::ShowInfoBox(std::string_view text) {
    std::string line = toTerminal_(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
}

}  // namespace vorlund
