// The signals a service gets, as events of the loop rather than as
// interruptions. SIGTERM and SIGINT are its close command on a machine
// without a tray. SIGHUP, an administrator's habit for "read your settings
// again" and what a closing terminal sends, must neither end the service
// (systemd does not restart one that a signal ended) nor pass unanswered.
// SIGXFSZ, which a write beyond RLIMIT_FSIZE raises, is ignored: the write
// fails with EFBIG instead, like any failed write, and the service lives on.
#pragma once

#include "platform/posix/unique_fd.h"

namespace vorlund {

class ServiceSignals {
  public:
    // What arrived since the last Take.
    struct Taken {
        bool close = false;   // SIGTERM or SIGINT
        bool hangUp = false;  // SIGHUP
    };

    // Blocks the three signals for the process, so one that arrives at any
    // moment from here on waits for the loop instead of ending the process,
    // and ignores SIGXFSZ. They stay so after destruction: a late one must
    // not kill a service that is already closing in order.
    ServiceSignals();

    bool IsValid() const { return static_cast<bool>(fd_); }
    // Readable while a signal is waiting.
    int Descriptor() const { return fd_.get(); }
    // Takes every waiting signal.
    Taken Take();

  private:
    UniqueFd fd_;
};

}  // namespace vorlund
