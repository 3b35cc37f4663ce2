// What the Linux service's control has to tell an operator beyond its
// events: how each transfer ended, and how the line is doing. The service
// writes it to its journal and its service manager; tests listen in.
#pragma once

#include <cstddef>
#include <string_view>

#include "download/transfer_outcome.h"

namespace vorlund {

class DownloadObserver {
  public:
    virtual ~DownloadObserver() = default;
    // Every transfer that ended, delivered or not.
    virtual void TransferEnded(const TransferOutcome&) {}
    // A reception has begun: the line is open and watched, or its failure is
    // reported and will be retried.
    virtual void ReceptionStarted() {}
    // The line that had failed has stayed open long enough to count as back.
    virtual void LineBack(std::string_view /*device*/) {}
    // Bytes arrived that no protocol took (a wrong speed, noise on the line,
    // a sender of a protocol the line is not received with).
    virtual void UnrecognisedBytes(std::size_t /*count*/) {}
};

}  // namespace vorlund
