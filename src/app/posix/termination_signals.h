// SIGTERM and SIGINT as events of the loop rather than as interruptions: on a
// machine without a tray they are the service's close command.
#pragma once

#include "platform/posix/unique_fd.h"

namespace vorlund {

class TerminationSignals {
  public:
    // Blocks both signals for the process, so one that arrives at any moment
    // from here on waits for the loop instead of ending the process. They
    // stay blocked after destruction: a late one must not kill a service that
    // is already closing in order.
    TerminationSignals();

    bool IsValid() const { return static_cast<bool>(fd_); }
    // Readable while a signal is waiting.
    int Descriptor() const { return fd_.get(); }
    // Takes every waiting signal; true if there was at least one.
    bool Take();

  private:
    UniqueFd fd_;
};

}  // namespace vorlund
