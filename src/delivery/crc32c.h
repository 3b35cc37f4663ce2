// CRC-32C (Castagnoli), the checksum of each ledger record: a record torn by
// a power cut, or a bit the disk turned, fails it and is not believed.
#pragma once

#include <cstdint>
#include <string_view>

namespace vorlund {

std::uint32_t Crc32c(std::string_view bytes);

}  // namespace vorlund
