// What the POSIX platform learns about the file systems it writes to that an
// operator should hear: a site may put the application directory on an SD
// card, a USB stick or a network share, which cannot do all that a local
// disk does. The platform goes on as well as the file system allows and says
// what it had to do without; the listener decides how often to tell.
#pragma once

#include <string>
#include <string_view>

namespace vorlund {

class FileSystemObserver {
  public:
    virtual ~FileSystemObserver() = default;
    // The file system of `directory` refuses to flush its entries (`reason`,
    // the system's text): a name made there is on disk only once the system
    // writes it back on its own, so a power cut may undo the latest one.
    virtual void DirectoryNotFlushed(const std::string& /*directory*/,
                                     std::string_view /*reason*/) {}
    // The file system of `directory` has no hard links (`reason`): a file
    // kept there is a copy, which takes as much free space as the file.
    virtual void HardLinksRefused(const std::string& /*directory*/, std::string_view /*reason*/) {}
};

// Listens to nothing.
inline FileSystemObserver& NoFileSystemObserver() {
    static FileSystemObserver none;
    return none;
}

}  // namespace vorlund
