// A build without libsystemd: nobody is told anything.
#include "platform/posix/service_manager.h"

namespace vorlund {

bool ServiceManager::Supported() {
    return false;
}

void ServiceManager::Ready() {}

void ServiceManager::Status(std::string_view) {}

void ServiceManager::Stopping() {}

void ServiceManager::Reloading() {}

}  // namespace vorlund
