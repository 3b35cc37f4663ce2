#include "app/posix/journal.h"

#include <utility>

#include "common/cp1252.h"

namespace vorlund {

void Journal::Write(Priority priority, std::string_view cp1252Text, std::string_view detail) {
    std::string line = "<" + std::to_string(static_cast<int>(priority)) + ">";
    line += Cp1252ToUtf8(cp1252Text);
    if (!detail.empty()) {
        line += ": ";
        line += detail;
    }
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
}

std::string Journal::TakePendingDetail() {
    return std::exchange(pendingDetail_, {});
}

}  // namespace vorlund
