#include "conversion/received_file_reader.h"

#include <cstring>
#include <vector>

#include "conversion/record_parser.h"

namespace vorlund {
namespace {

// A line and its end fill at most this many bytes; an LF further away than
// this from the start of its line ends the data.
constexpr std::size_t kLineWindow = 1024;
// Read in larger blocks than one line, so each byte is scanned once and moved
// at most once per block instead of once per line.
constexpr std::size_t kBlockSize = 64 * 1024;

}  // namespace

void ReadReceivedFile(InputFile& file, char decimalSeparator, const RecordReceiver& receiver) {
    std::vector<char> buffer(kBlockSize);
    std::size_t begin = 0;
    std::size_t end = 0;
    bool atEnd = false;
    for (;;) {
        const char* start = buffer.data() + begin;
        const std::size_t window = std::min(end - begin, kLineWindow);
        const auto* lf = static_cast<const char*>(std::memchr(start, '\n', window));
        const std::size_t searched = lf ? static_cast<std::size_t>(lf - start) : window;
        if (std::memchr(start, '\0', searched) != nullptr) {
            return;
        }
        if (!lf) {
            if (window == kLineWindow || atEnd) {
                return;
            }
            std::memmove(buffer.data(), start, end - begin);
            end -= begin;
            begin = 0;
            const std::int64_t count = file.Read(buffer.data() + end, buffer.size() - end);
            // A failed read ends the data like the end of the file does: what
            // was read before it stands.
            if (count <= 0) {
                atEnd = true;
            } else {
                end += static_cast<std::size_t>(count);
            }
            continue;
        }
        std::string_view line(start, searched);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        auto record = ParseEntryLine(line, decimalSeparator);
        if (!record) {
            return;
        }
        receiver(std::move(*record));
        begin += searched + 1;
    }
}

}  // namespace vorlund
