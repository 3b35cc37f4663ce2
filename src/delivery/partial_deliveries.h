// Transfers cut off in the middle (a terminal lifted from its cradle, a
// line or a network serial server lost, the service closed), kept so that a
// sender that offers the same file again with crash recovery goes on where
// it stopped rather than from its first byte.
//
// A part is kept as its staged file, flushed and moved into Spool/Avbrutna,
// and only then recorded there (a record file beside it, written whole and
// flushed): a part that a restart finds recorded is whole, and one that is
// not recorded is not offered. Only checked data is ever in a part. It is
// offered only for the same name, size and modification time, and the
// sender must still prove it its own (see the ZMODEM receiver).
//
// Bounded: at most kMostParts parts, the newest, and each for at least
// kKeptFor of the service's own running time, measured on the monotonic
// clock the owner passes in, so that no step of the wall clock shortens it;
// a restart counts its running time afresh, so a part may live longer, never
// less. A day covers a terminal docked again in the next shift; four cover
// several terminals cut off at once; a part is at most the largest delivery.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "delivery/delivery_record.h"
#include "delivery/incoming_delivery.h"
#include "platform/platform.h"

namespace vorlund {

class PartialDeliveries {
  public:
    using Time = std::chrono::milliseconds;

    static constexpr std::size_t kMostParts = 4;
    static constexpr std::chrono::hours kKeptFor{24};
    // The folder in the spool directory.
    static constexpr char kFolder[] = "Avbrutna";

    struct Part {
        std::uint64_t number = 0;
        DeliveryHeader header;
        std::uint64_t bytes = 0;
        std::uint32_t crc32 = 0;  // of its bytes, read back when it is offered
    };

    // Reads what the folder holds; a part found counts as kept at `now`.
    PartialDeliveries(const Platform& platform, std::string spoolDir, Time now);

    // Keeps what a transfer cut off had received, for a later transfer of
    // the same file to continue; it replaces any part of that file. A
    // failure leaves nothing.
    Status Keep(IncomingDelivery incoming, const DeliveryHeader& header, Time now);
    // The part kept of the file `header` announces, read back whole; none
    // when there is none, or it is no longer what was recorded.
    std::optional<Part> Find(const DeliveryHeader& header, Time now);
    // Writes the part's bytes into the staged file of the transfer that
    // continues it.
    Status CopyInto(const Part& part, IncomingDelivery& incoming) const;
    // The part is of no more use: its file arrived, or was sent afresh.
    void Forget(const DeliveryHeader& header);

    std::size_t Count() const { return parts_.size(); }

  private:
    struct Kept {
        Part part;
        Time keptAt;
    };
    void Expire(Time now);
    void Remove(std::uint64_t number);
    std::string PathOf(std::uint64_t number, const char* extension) const;

    const Platform& platform_;
    std::string folder_;
    std::vector<Kept> parts_;  // oldest first
    std::uint64_t next_ = 1;
};

}  // namespace vorlund
