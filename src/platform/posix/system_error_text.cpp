#include "platform/posix/system_error_text.h"

#include <cerrno>
#include <cstring>

namespace vorlund {
namespace {

// strerror_r comes in two shapes, and which one a C library declares depends
// on its feature macros: the GNU one may return a static text instead of
// filling the buffer, the XSI one returns a status.
[[maybe_unused]] const char* TextOf(char* result, const char*) {
    return result;
}
[[maybe_unused]] const char* TextOf(int status, const char* buffer) {
    return status == 0 ? buffer : nullptr;
}

}  // namespace

std::string SystemErrorText(int error) {
    const int saved = errno;
    char buffer[256] = {};
    const char* text = TextOf(::strerror_r(error, buffer, sizeof buffer), buffer);
    std::string result =
        text != nullptr && text[0] != '\0' ? std::string(text) : "error " + std::to_string(error);
    errno = saved;
    return result;
}

}  // namespace vorlund
