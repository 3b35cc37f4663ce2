#include "platform/posix/file_size_limit.h"

#include <sys/resource.h>

namespace vorlund {

std::optional<std::uint64_t> FileSizeLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace vorlund
