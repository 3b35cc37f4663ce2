// A program started as root that works in a directory of another user (the
// packaged service's belongs to vorlund) first becomes that user, with the
// user's groups: what it makes there then belongs to the service, and what
// it checks there is checked with the service's rights.
#pragma once

#include <string>

#include "common/result.h"

namespace vorlund {

// Becomes the owner of `directory` when this process runs as root and the
// directory is not root's; otherwise changes nothing.
Status BecomeOwnerOf(const std::string& directory);

}  // namespace vorlund
