// Where the file of a transfer goes, as its data arrives, whatever the
// protocol: never all of it in memory, whatever its size.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/result.h"
#include "download/file_offer.h"

namespace vorlund {

class TransferSink {
  public:
    enum class Kept { kStored, kRepeated };
    virtual ~TransferSink() = default;
    // A transfer of the file `header` announces begins; a failure refuses
    // it, with the reason. `continuesBatch`: the sender went on to it from
    // the end of the file before, so it heard that end.
    virtual Status Begin(const FileOffer& header, bool continuesBatch) = 0;
    // Its next bytes, in order.
    virtual Status Write(std::string_view bytes) = 0;
    // Every byte is in: the file is kept before the sender is told that
    // it has arrived. kRepeated: it had arrived before, and is not kept
    // again.
    virtual Result<Kept> End() = 0;
    // The transfer is off: whatever was written goes.
    virtual void Discard() = 0;
    // The sender ended its batch. `afterDelivery`: right after a file
    // delivered here, so it heard the end of each of its batch's files;
    // otherwise before any transfer of this session, where it can only end a
    // batch delivered before a restart.
    virtual void BatchEnded(bool afterDelivery) = 0;

    // Crash recovery, for the protocols that can continue a file from where
    // an earlier transfer of it was cut off.
    struct StagedPart {
        std::uint64_t bytes = 0;
        std::uint32_t crc32 = 0;  // of those bytes, for the sender to prove them its own
    };
    // The part of the file `header` announces (the same name, size and
    // modification time) that a transfer cut off before has left; none when
    // there is none. Nothing is begun.
    virtual std::optional<StagedPart> FindStagedPart(const FileOffer& /*header*/) {
        return std::nullopt;
    }
    // Like Begin, but the file goes on from the end of the part FindStagedPart
    // found, whose bytes are its first.
    virtual Status Continue(const FileOffer& /*header*/, bool /*continuesBatch*/) {
        return Failure{"no part of the file is kept"};
    }
    // The transfer was cut off (the line, the sender or the service went
    // away): what was written, all of it checked, may be kept for a sender
    // that offers to continue. By default it goes, as with Discard.
    virtual void Suspend() { Discard(); }
};

}  // namespace vorlund
