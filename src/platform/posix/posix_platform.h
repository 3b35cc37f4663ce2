// The POSIX platform over a given table of system calls: the native one runs
// over the system's own, a crash test over one that fails or ends the process
// at a chosen call. `observer` hears what a file system could not do (the
// service tells its journal; NativePlatform tells no one).
#pragma once

#include <memory>

#include "platform/platform.h"
#include "platform/posix/file_system_observer.h"
#include "platform/posix/system_calls.h"

namespace vorlund {

std::unique_ptr<Platform> MakePosixPlatform(SystemCalls& calls,
                                            FileSystemObserver& observer = NoFileSystemObserver());

}  // namespace vorlund
