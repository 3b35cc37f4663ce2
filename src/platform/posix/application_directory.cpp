// The POSIX claim: a flock(2) lock on the application directory itself.
// The kernel drops it with the process, however it ends, so no stale claim
// can outlive a crash, and every name of the directory (a link, a bind
// mount) leads to the same lock.
#include "platform/application_directory.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/directory_owner.h"
#include "platform/posix/lock_holder.h"
#include "platform/posix/system_error_text.h"
#include "platform/posix/unique_fd.h"

namespace vorlund {

struct ApplicationDirectoryClaim::Hold {
    UniqueFd directory;
};

namespace {

// Drops root for the owner of the directory: groups first, while it may
// still change them, the user last.
bool BecomeOwner(const struct stat& directory, std::string& failure) {
    const passwd* owner = ::getpwuid(directory.st_uid);
    const gid_t group = owner ? owner->pw_gid : directory.st_gid;
    const bool groupsSet =
        owner ? ::initgroups(owner->pw_name, group) == 0 : ::setgroups(1, &directory.st_gid) == 0;
    if (!groupsSet || ::setgid(group) != 0 || ::setuid(directory.st_uid) != 0) {
        failure = "cannot act as the owner of the directory (user " +
                  (owner ? std::string(owner->pw_name) : std::to_string(directory.st_uid)) +
                  "): " + SystemErrorText(errno);
        return false;
    }
    return true;
}

}  // namespace

Status BecomeOwnerOf(const std::string& directory) {
    struct stat status {};
    if (::geteuid() != 0 || ::stat(directory.c_str(), &status) != 0 || status.st_uid == 0) {
        return {};
    }
    std::string failure;
    if (!BecomeOwner(status, failure)) {
        return Failure{failure};
    }
    return {};
}

bool IsSystemProgramDirectory(std::string_view directory) {
    while (directory.size() > 1 && directory.back() == '/') {
        directory.remove_suffix(1);
    }
    for (const std::string_view tree :
         {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
        if (directory == tree ||
            (directory.substr(0, tree.size()) == tree && directory.size() > tree.size() &&
             directory[tree.size()] == '/')) {
            return true;
        }
    }
    return directory == "/";
}

ApplicationDirectoryClaim ApplicationDirectoryClaim::Take(const std::string& directory) {
    UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0) {
        return {Outcome::kClaimed, {}, nullptr};
    }
    std::string failure;
    if (::geteuid() == 0 && status.st_uid != 0 && !BecomeOwner(status, failure)) {
        return {Outcome::kFailed, failure, nullptr};
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            // A file system without locks (some network ones): nothing to
            // claim with, and no reason to refuse the start.
            return {Outcome::kClaimed, {}, nullptr};
        }
        const std::optional<pid_t> holder = FlockHolder(status.st_dev, status.st_ino);
        return {Outcome::kHeldByAnother, holder ? DescribeProcess(*holder) : std::string(),
                nullptr};
    }
    return {Outcome::kClaimed, {}, std::make_unique<Hold>(Hold{std::move(fd)})};
}

ApplicationDirectoryClaim::ApplicationDirectoryClaim(Outcome outcome, std::string detail,
                                                     std::unique_ptr<Hold> hold)
    : outcome_(outcome), detail_(std::move(detail)), hold_(std::move(hold)) {}
ApplicationDirectoryClaim::ApplicationDirectoryClaim(ApplicationDirectoryClaim&&) noexcept =
    default;
ApplicationDirectoryClaim& ApplicationDirectoryClaim::operator=(
    ApplicationDirectoryClaim&&) noexcept = default;
ApplicationDirectoryClaim::~ApplicationDirectoryClaim() = default;

}  // namespace vorlund
