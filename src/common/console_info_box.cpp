#include "common/console_info_box.h"

namespace vorlund {

void ConsoleInfoBox::ShowInfoBox(std::string_view text) {
    ShowInfoBoxWithDetail(text, {});
}

void ConsoleInfoBox::ShowInfoBoxWithDetail(std::string_view text, std::string_view detail,
                                           Recurrence /*recurrence*/) {
    std::string line = toTerminal_(text);
    if (!detail.empty()) {
        line += ": ";
        line += detail;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
}

}  // namespace vorlund
