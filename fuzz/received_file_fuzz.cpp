// The received-file reader, the article table and the export line writer on
// any X.DAT, read in pieces of a size the input chooses.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "conversion/article_table.h"
#include "conversion/format_quantity.h"
#include "conversion/line_format.h"
#include "conversion/received_file_reader.h"

namespace {

class MemoryFile : public vorlund::InputFile {
  public:
    MemoryFile(const std::uint8_t* data, std::size_t size, std::size_t chunk)
        : data_(data), size_(size), chunk_(chunk) {}
    std::int64_t Read(void* buffer, std::size_t size) override {
        const std::size_t n = std::min({size, chunk_, size_ - position_});
        std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        return static_cast<std::int64_t>(n);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64 * 37;
    const bool aggregation = data[1] & 1;
    const char separator = (data[1] & 2) ? ',' : '.';
    MemoryFile file(data + 2, size - 2, chunk);
    vorlund::ArticleTable table(aggregation);
    std::size_t records = 0;
    vorlund::ReadReceivedFile(file, separator, [&](vorlund::entrytype&& record) {
        ++records;
        table.AddEntry(std::move(record));
    });
    if (records > size) {
        std::abort();
    }
    const std::string format = vorlund::BuildLineFormat(data[1] & 4, data[1] >> 4);
    std::string out;
    table.ForEachEntry([&](std::string_view code, vorlund::Extended quantity) {
        vorlund::FormatLine(format, code, vorlund::FormatQuantity(quantity, separator), out);
        return true;
    });
    return 0;
}
