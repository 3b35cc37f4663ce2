// The ledger's line reader on any text. The checksum is made to match, or
// the reader would refuse nearly everything before it looks at a field:
// whatever it then takes must write back to a line that reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "delivery/crc32c.h"
#include "delivery/delivery_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlund;
    std::string line(reinterpret_cast<const char*>(data), size);
    char crc[9];
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::uint32_t sum = Crc32c(line);
    for (int i = 0; i < 8; ++i) {
        crc[i] = kDigits[(sum >> (28 - 4 * i)) & 0xF];
    }
    crc[8] = '\0';
    line += std::string(" crc=") + crc;
    const std::optional<DeliveryRecord> record = DecodeRecord(line);
    if (!record) {
        return 0;
    }
    const std::string written = EncodeRecord(*record);
    if (written.empty() || written.back() != '\n' || written.find('\n') != written.size() - 1) {
        std::abort();
    }
    const std::optional<DeliveryRecord> again =
        DecodeRecord(std::string_view(written).substr(0, written.size() - 1));
    if (!again || EncodeRecord(*again) != written) {
        std::abort();
    }
    return 0;
}
