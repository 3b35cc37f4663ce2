// On Windows a program's directory is its own: the converter claims nothing
// and runs as the user who starts it, and Vorlund.exe keeps one copy per
// directory with its own machine-wide claim (app/win32/single_instance.h).
#include "platform/application_directory.h"

namespace vorlund {

struct ApplicationDirectoryClaim::Hold {};

bool IsSystemProgramDirectory(std::string_view) {
    return false;
}

ApplicationDirectoryClaim ApplicationDirectoryClaim::Take(const std::string&) {
    return {Outcome::kClaimed, {}, nullptr};
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
