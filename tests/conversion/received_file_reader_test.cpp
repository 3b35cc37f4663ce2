#include "conversion/received_file_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vorlund {
namespace {

// X.DAT in memory; reads may be cut short or fail, as a device might.
class MemoryFile : public InputFile {
  public:
    explicit MemoryFile(std::string bytes, std::size_t chunk = SIZE_MAX)
        : bytes_(std::move(bytes)), chunk_(chunk) {}
    std::int64_t Read(void* buffer, std::size_t size) override {
        ++reads;
        if (reads == failingRead)
            return -1;
        const std::size_t n = std::min({size, chunk_, bytes_.size() - position_});
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
        return static_cast<std::int64_t>(n);
    }
    int reads = 0;
    int failingRead = 0;

  private:
    std::string bytes_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

std::vector<entrytype> Read(InputFile& file) {
    std::vector<entrytype> records;
    ReadReceivedFile(file, '.', [&](entrytype&& r) { records.push_back(std::move(r)); });
    return records;
}

std::vector<entrytype> Read(std::string bytes, std::size_t chunk = SIZE_MAX) {
    MemoryFile file(std::move(bytes), chunk);
    return Read(file);
}

std::vector<std::string> Codes(const std::vector<entrytype>& records) {
    std::vector<std::string> codes;
    for (const auto& r : records)
        codes.push_back(r.code);
    return codes;
}

using Codes_ = std::vector<std::string>;

TEST(ReadReceivedFile, TakesEveryCompleteLineInOrder) {
    const auto records = Read("a1 ; 3 \r\nB;8\r\nc;2.5\r\n");
    EXPECT_EQ(Codes(records), (Codes_{"A1", "B", "C"}));
    EXPECT_EQ(records[2].quantity, Extended(2.5));
}

TEST(ReadReceivedFile, StopsWhereTheDataEnd) {
    EXPECT_TRUE(Read("").empty());
    EXPECT_TRUE(Read("\r\nA;1\r\n").empty());                         // first line empty
    EXPECT_EQ(Codes(Read("A;7\r\nB;8")), Codes_{"A"});                // no last line end
    EXPECT_EQ(Codes(Read("A;1\r\nheader\r\nB;2\r\n")), Codes_{"A"});  // a line without ';'
    EXPECT_EQ(Codes(Read(std::string("A;1\r\nB;\0"
                                     "2\r\nC;3\r\n",
                                     16))),
              Codes_{"A"});  // NUL
}

TEST(ReadReceivedFile, LineEndedByLfAloneLosesNoByte) {
    const auto records = Read("A;15\nB;5\nC;7\r\n");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].quantity, Extended(15));
    EXPECT_EQ(records[1].quantity, Extended(5));
    EXPECT_EQ(records[2].quantity, Extended(7));
}

TEST(ReadReceivedFile, LineOf1022BytesIsReadAndLongerOneEndsTheData) {
    const std::string longest = "A;" + std::string(1020, '1');
    const auto kept = Read(longest + "\r\nB;1\r\n");
    EXPECT_EQ(Codes(kept), (Codes_{"A", "B"}));

    const std::string tooLong = "A;" + std::string(1021, '1');
    EXPECT_EQ(Codes(Read("Z;1\r\n" + tooLong + "\r\nB;1\r\n")), Codes_{"Z"});
}

TEST(ReadReceivedFile, LinesAcrossBlockBordersAreReadOnceEach) {
    std::string data;
    Codes_ expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string code = "C" + std::to_string(i) + std::string(i % 37, 'x');
        data += code + ";" + std::to_string(i) + "\r\n";
        std::string upper = code;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        expected.push_back(upper);
    }
    for (std::size_t chunk : {SIZE_MAX, std::size_t{1023}, std::size_t{1}, std::size_t{7}}) {
        const auto records = Read(data, chunk);
        ASSERT_EQ(Codes(records), expected) << "chunk " << chunk;
        EXPECT_EQ(records.back().quantity, Extended(19999));
    }
}

TEST(ReadReceivedFile, FailedReadEndsTheDataAndKeepsWhatWasRead) {
    std::string data;
    for (int i = 0; i < 100; ++i)
        data += "A;1\r\n";
    MemoryFile file(data, 100);
    file.failingRead = 3;
    const auto records = Read(file);
    EXPECT_EQ(records.size(), 40u);  // the 200 bytes of the first two reads
}

}  // namespace
}  // namespace vorlund
