#include "app/posix/service_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vorlund {

ServiceSignals::ServiceSignals() {
    ::signal(SIGXFSZ, SIG_IGN);
    sigset_t signals;
    ::sigemptyset(&signals);
    ::sigaddset(&signals, SIGTERM);
    ::sigaddset(&signals, SIGINT);
    ::sigaddset(&signals, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) == 0) {
        fd_.reset(::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    }
}

ServiceSignals::Taken ServiceSignals::Take() {
    Taken taken;
    signalfd_siginfo info{};
    while (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGHUP) {
            taken.hangUp = true;
        } else {
            taken.close = true;
        }
    }
    return taken;
}

}  // namespace vorlund
