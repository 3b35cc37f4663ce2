// How vorlund-convert --settle asks the service that works in an
// application directory to settle what waits there, so that the service,
// the ledger's one writer, does it itself while it runs.
#pragma once

#include <string>

#include "app/settle_reply.h"
#include "common/result.h"

namespace vorlund {

// The service's answer, or why it could not be asked (it does not listen:
// it is starting, is of a version before, or its file system has no
// sockets; or this user may not ask it).
Result<SettleReply> AskServiceToSettle(const std::string& spoolDir, const std::string& only);

// Whether the converter may settle on this system: only where it can tell
// that no service works in the directory meanwhile, and keep one from
// starting (Linux: its claim on the directory).
bool CanSettleHere();

}  // namespace vorlund
