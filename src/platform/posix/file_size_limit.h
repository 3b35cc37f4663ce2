// The largest file the process may write (RLIMIT_FSIZE: `ulimit -f`,
// systemd's LimitFSIZE=). A write beyond it fails with EFBIG, once the
// service ignores SIGXFSZ, which would otherwise end it.
#pragma once

#include <cstdint>
#include <optional>

namespace vorlund {

// In bytes; none when the process has no such limit.
std::optional<std::uint64_t> FileSizeLimit();

}  // namespace vorlund
