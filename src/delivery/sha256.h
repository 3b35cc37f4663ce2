// SHA-256 of a delivery's bytes: what the ledger knows a delivery by. A
// delivery is told from another by its bytes alone where the protocol gives
// no header, so the digest must make a mistaken identity unthinkable rather
// than merely unlikely; at the sizes of a terminal's data its cost is lost
// in the flushes to disk.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorlund {

class Sha256 {
  public:
    Sha256();
    void Update(std::string_view bytes);
    // The digest as 64 lower-case hex digits; the object is spent after it.
    std::string HexDigest();

  private:
    void Compress(const unsigned char* block);

    std::array<std::uint32_t, 8> state_;
    std::array<unsigned char, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace vorlund
