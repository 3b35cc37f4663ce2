// Tells the service manager (systemd) how the service is doing, for a unit of
// Type=notify. Without a manager listening, or in a build without libsystemd,
// every call does nothing, so the program runs the same from a shell.
#pragma once

#include <string_view>

namespace vorlund {

class ServiceManager {
  public:
    // Whether this build can notify at all.
    static bool Supported();

    // Start-up is over: the settings are read and the line is watched.
    void Ready();
    // The service's state in one line: the latest delivery or the current
    // fault.
    void Status(std::string_view text);
    // The close has begun.
    void Stopping();
    // The service closes to start again on its settings read afresh; Ready
    // follows once it has.
    void Reloading();
};

}  // namespace vorlund
