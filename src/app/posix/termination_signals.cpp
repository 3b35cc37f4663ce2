#include "app/posix/termination_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vorlund {

TerminationSignals::TerminationSignals() {
    sigset_t signals;
    ::sigemptyset(&signals);
    ::sigaddset(&signals, SIGTERM);
    ::sigaddset(&signals, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) == 0) {
        fd_.reset(::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    }
}

bool TerminationSignals::Take() {
    bool taken = false;
    signalfd_siginfo info{};
    while (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        taken = true;
    }
    return taken;
}

}  // namespace vorlund
