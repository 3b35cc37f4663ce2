// A local stream socket named by a file in a directory: how an operator's
// command on this machine asks the running service, which the unit keeps
// off every network (AF_UNIX is what it may use). A name too long for a
// socket address is reached through the directory's descriptor instead.
#pragma once

#include <string>

#include "common/result.h"
#include "platform/posix/unique_fd.h"

namespace vorlund {

// Listens at `directory`/`name`, non-blocking, in place of any socket file
// of that name a process before left behind.
Result<UniqueFd> ListenAt(const std::string& directory, const std::string& name);

// Connects to `directory`/`name`; `error`, when given, is set to the
// system's error number of a failure.
Result<UniqueFd> ConnectTo(const std::string& directory, const std::string& name,
                           int* error = nullptr);

// Whether the peer of a connected socket runs as this process's user or as
// root.
bool PeerIsTrusted(int fd);

}  // namespace vorlund
