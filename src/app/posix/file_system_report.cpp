#include "app/posix/file_system_report.h"

namespace vorlund {
namespace {

constexpr char kNotFlushed[] = "Mappen kan inte synkroniseras till disk";
constexpr char kNoHardLinks[] = "Mappen kan inte ha h\xE5rda l\xE4nkar";

}  // namespace

void FileSystemReport::DirectoryNotFlushed(const std::string& directory,
                                           std::string_view reason) {
    if (unflushable_.insert(directory).second) {
        journal_.Write(Priority::kWarning, kNotFlushed,
                       directory + ": " + std::string(reason) +
                           " (its file system cannot flush a directory; Vorlund goes on, but a "
                           "power cut may undo the latest file moved into place there: an "
                           "export, X.DAT or a kept delivery)");
    }
}

void FileSystemReport::HardLinksRefused(const std::string& directory, std::string_view reason) {
    if (withoutLinks_.insert(directory).second) {
        journal_.Write(Priority::kNotice, kNoHardLinks,
                       directory + ": " + std::string(reason) +
                           " (a delivery kept here is a copy, which needs as much free space as "
                           "the delivery)");
    }
}

}  // namespace vorlund
