// The service manager is reached through libsystemd's sd_notify, which finds
// the manager's socket in $NOTIFY_SOCKET and does nothing when it is unset.
#include <systemd/sd-daemon.h>

#include <string>

#include "platform/posix/service_manager.h"

namespace vorlund {

bool ServiceManager::Supported() {
    return true;
}

void ServiceManager::Ready() {
    ::sd_notify(0, "READY=1");
}

void ServiceManager::Status(std::string_view text) {
    // One assignment per line: a line end would start another.
    std::string message = "STATUS=";
    for (const char c : text) {
        message.push_back(c == '\n' || c == '\r' ? ' ' : c);
    }
    ::sd_notify(0, message.c_str());
}

void ServiceManager::Stopping() {
    ::sd_notify(0, "STOPPING=1");
}

void ServiceManager::Reloading() {
    ::sd_notify(0, "RELOADING=1");
}

}  // namespace vorlund
