// Where the file of a transfer goes, as its data arrives, whatever the
// protocol: never all of it in memory, whatever its size.
#pragma once

#include <string_view>

#include "common/result.h"
#include "download/ymodem_header.h"

namespace vorlund {

class TransferSink {
  public:
    enum class Kept { kStored, kRepeated };
    virtual ~TransferSink() = default;
    // A transfer of the file `header` announces begins; a failure refuses
    // it, with the reason.
    virtual Status Begin(const YmodemHeader& header) = 0;
    // Its next bytes, in order.
    virtual Status Write(std::string_view bytes) = 0;
    // Every byte is in: the file is kept before the sender is told that
    // it has arrived. kRepeated: it had arrived before, and is not kept
    // again.
    virtual Result<Kept> End() = 0;
    // The transfer is off: whatever was written goes.
    virtual void Discard() = 0;
};

}  // namespace vorlund
