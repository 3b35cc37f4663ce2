// What the service tells its operator about the file systems it writes to:
// once per directory and run, when one cannot flush its entries or make hard
// links, and what that costs. Each is a lasting property of the place, so a
// second line would say nothing new.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "app/posix/journal.h"
#include "platform/posix/file_system_observer.h"

namespace vorlund {

class FileSystemReport final : public FileSystemObserver {
  public:
    explicit FileSystemReport(Journal& journal) : journal_(journal) {}

    void DirectoryNotFlushed(const std::string& directory, std::string_view reason) override;
    void HardLinksRefused(const std::string& directory, std::string_view reason) override;

  private:
    Journal& journal_;
    std::set<std::string> unflushable_;
    std::set<std::string> withoutLinks_;
};

}  // namespace vorlund
