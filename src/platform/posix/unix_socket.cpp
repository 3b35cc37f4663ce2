#include "platform/posix/unix_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/system_error_text.h"

namespace vorlund {
namespace {

constexpr int kBacklog = 4;

Failure Failed(const std::string& path, int error) {
    return Failure{path + ": " + SystemErrorText(error)};
}

// The socket's address, and the directory's descriptor that must stay open
// while the address is used when the path itself does not fit.
struct Address {
    sockaddr_un address{};
    UniqueFd directory;
};

Result<Address> AddressOf(const std::string& directory, const std::string& name) {
    Address made;
    made.address.sun_family = AF_UNIX;
    std::string path = directory + "/" + name;
    if (path.size() >= sizeof made.address.sun_path) {
        made.directory.reset(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!made.directory) {
            return Failed(directory, errno);
        }
        path = "/proc/self/fd/" + std::to_string(made.directory.get()) + "/" + name;
        if (path.size() >= sizeof made.address.sun_path) {
            return Failed(directory + "/" + name, ENAMETOOLONG);
        }
    }
    std::memcpy(made.address.sun_path, path.c_str(), path.size() + 1);
    return made;
}

}  // namespace

Result<UniqueFd> ListenAt(const std::string& directory, const std::string& name) {
    const std::string shown = directory + "/" + name;
    Result<Address> address = AddressOf(directory, name);
    if (!address) {
        return Failure{address.reason()};
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        return Failed(shown, errno);
    }
    ::unlink(address->address.sun_path);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address->address),
               sizeof address->address) != 0 ||
        ::listen(fd.get(), kBacklog) != 0) {
        return Failed(shown, errno);
    }
    return fd;
}

Result<UniqueFd> ConnectTo(const std::string& directory, const std::string& name, int* error) {
    const std::string shown = directory + "/" + name;
    int ignored = 0;
    int& failed = error ? *error : ignored;
    failed = 0;
    Result<Address> address = AddressOf(directory, name);
    if (!address) {
        failed = ENOENT;
        return Failure{address.reason()};
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        failed = errno;
        return Failed(shown, failed);
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address->address),
                  sizeof address->address) != 0) {
        failed = errno;
        return Failed(shown, failed);
    }
    return fd;
}

bool PeerIsTrusted(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           (peer.uid == 0 || peer.uid == ::geteuid());
}

}  // namespace vorlund
