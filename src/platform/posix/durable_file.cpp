#include "platform/posix/durable_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/unique_fd.h"

namespace vorlund {

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : EIO;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncDirectory(const std::string& directory) {
    UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && ::fsync(fd.get()) == 0;
}

UniqueFd CreateTemporaryBeside(const std::string& path, std::string& temporary) {
    const std::string prefix = DirectoryOf(path) + "/." + path.substr(path.rfind('/') + 1) + "." +
                               std::to_string(::getpid());
    // A name left by an earlier process of the same number is passed over.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary = prefix + "-" + std::to_string(attempt) + ".tmp";
        UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd || errno != EEXIST) {
            return fd;
        }
    }
    return UniqueFd();
}

int ReplaceFileDurably(const std::string& path, std::string_view data) {
    std::string temporary;
    UniqueFd fd = CreateTemporaryBeside(path, temporary);
    if (!fd) {
        return errno != 0 ? errno : EEXIST;
    }
    int error = WriteAll(fd.get(), data);
    if (error == 0 && ::fsync(fd.get()) != 0) {
        error = errno;
    }
    if (error == 0 && ::close(fd.release()) != 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        fd.reset();
        ::unlink(temporary.c_str());
        return error;
    }
    // Renamed but perhaps not yet durable: the caller must not report success.
    return SyncDirectory(DirectoryOf(path)) ? 0 : (errno != 0 ? errno : EIO);
}

}  // namespace vorlund
