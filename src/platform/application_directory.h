// Making an application directory a program's own before anything in it is
// touched. Each build links one implementation: the POSIX one claims the
// directory; on Windows the converter needs none (the service has its own
// claim, app/win32/single_instance.h).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vorlund {

// Whether `directory` is one of the system's own program directories
// (/usr/bin, /usr/local/bin, /bin, ...): a program lying there that is not
// told its application directory must not make Spool and Out beside itself.
bool IsSystemProgramDirectory(std::string_view directory);

// This process's hold on one application directory, for as long as the
// object lives. Two programs on one directory would share Vorlund.ini, the
// spool and the delivery ledger: the second is kept out.
class ApplicationDirectoryClaim {
  public:
    enum class Outcome {
        kClaimed,
        // Another process holds the directory; Detail() names it where the
        // system can tell.
        kHeldByAnother,
        // Started as root, the process could not become the directory's
        // owner; Detail() says why.
        kFailed,
    };

    // Claims `directory`. A process started as root on a directory that
    // belongs to another user first becomes that user, with the user's
    // groups, so that whatever it makes there (exports, kept deliveries,
    // the ledger) belongs to the service that works there, as the service's
    // own files do. A directory that does not exist is not claimed; the
    // start-up then reports it as the spool directory's failure.
    static ApplicationDirectoryClaim Take(const std::string& directory);

    ApplicationDirectoryClaim(ApplicationDirectoryClaim&&) noexcept;
    ApplicationDirectoryClaim& operator=(ApplicationDirectoryClaim&&) noexcept;
    ~ApplicationDirectoryClaim();

    Outcome Result() const { return outcome_; }
    const std::string& Detail() const { return detail_; }

  private:
    struct Hold;
    ApplicationDirectoryClaim(Outcome outcome, std::string detail, std::unique_ptr<Hold> hold);

    Outcome outcome_;
    std::string detail_;
    std::unique_ptr<Hold> hold_;
};

}  // namespace vorlund
