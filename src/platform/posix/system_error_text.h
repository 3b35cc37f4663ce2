// The system's own text for an errno value, for the lines an operator reads.
#pragma once

#include <string>

namespace vorlund {

// "No such file or directory" for ENOENT; the number when the system has no
// text for it. Never touches errno.
std::string SystemErrorText(int error);

}  // namespace vorlund
