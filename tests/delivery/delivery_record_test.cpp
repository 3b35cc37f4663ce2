// The ledger's line format and the digests it relies on: published test
// vectors, so that a slip in byte order or padding shows on every machine
// (the small boxes run these under emulation too).
#include "delivery/delivery_record.h"

#include <gtest/gtest.h>

#include <string>

#include "delivery/crc32c.h"
#include "delivery/sha256.h"

namespace vorlund {
namespace {

std::string Sha256Of(const std::string& bytes) {
    Sha256 digest;
    // Fed in uneven pieces, as blocks arrive.
    for (std::size_t at = 0; at < bytes.size(); at += 77) {
        digest.Update(std::string_view(bytes).substr(at, 77));
    }
    return digest.HexDigest();
}

TEST(DeliveryRecordTest, DigestsMatchTheirPublishedVectors) {
    EXPECT_EQ(Sha256Of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Of(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(Crc32c("123456789"), 0xE3069283U);
}

// Whatever bytes a sender puts in a name, the record reads back as written,
// and a line with any byte changed does not read at all.
TEST(DeliveryRecordTest, ARecordReadsBackAsWrittenAndNotAtAllWhenDamaged) {
    DeliveryRecord record;
    record.number = 42;
    record.state = DeliveryState::kExporting;
    record.arrived = 1765000000000;
    record.lastSeen = 1765000060000;
    record.digest = std::string(64, 'f');
    record.bytes = 54338;
    record.header = DeliveryHeader{std::string("a b%c\n\xE5\0z", 10), 54338, "14000000000"};
    record.temporary = "/var/lib/vorlund/Out/.2026 12.txt.17-0.tmp";
    record.file = "/var/lib/vorlund/Out/2026 12.txt";
    // An operator's settlement of a kept file the ledger had forgotten.
    record.keptFile = "/var/lib/vorlund/Spool/Okonverterade/20261208-141503-50.DAT";
    record.keptOnly = true;
    record.result = "50";
    record.why = "/var/lib/vorlund/Out/x.txt: Permission denied";
    const std::string line = EncodeRecord(record);
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    const std::string_view text(line.data(), line.size() - 1);
    const std::optional<DeliveryRecord> read = DecodeRecord(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(EncodeRecord(*read), line);
    EXPECT_EQ(read->header, record.header);
    EXPECT_EQ(read->keptFile, record.keptFile);
    EXPECT_TRUE(read->keptOnly);
    EXPECT_EQ(read->why, record.why);
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::string damaged(text);
        damaged[at] ^= 0x04;
        EXPECT_FALSE(DecodeRecord(damaged)) << at;
    }
}

}  // namespace
}  // namespace vorlund
