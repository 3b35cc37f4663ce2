// The POSIX platform over a given table of system calls: the native one runs
// over the system's own, a crash test over one that fails or ends the process
// at a chosen call.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "platform/posix/system_calls.h"

namespace vorlund {

std::unique_ptr<Platform> MakePosixPlatform(SystemCalls& calls);

}  // namespace vorlund
