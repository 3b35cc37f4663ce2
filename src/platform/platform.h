// The operations the portable core needs of the operating system. Each build
// links exactly one implementation (posix or win32); tests wrap it to make any
// single operation fail. Handles cross this boundary as objects that release
// themselves, so no caller can leak one on an early return.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vorlund {

struct LocalDateTime {
    unsigned year = 0;
    unsigned month = 0;  // 1..12
    unsigned day = 0;    // 1..31
    unsigned hour = 0;   // 0..23
    unsigned minute = 0;
    unsigned second = 0;
};

// A file opened for reading with nobody else allowed to open it meanwhile.
class InputFile {
  public:
    virtual ~InputFile() = default;
    // Bytes read into `buffer`, 0 at the end of the file, -1 on failure.
    virtual std::int64_t Read(void* buffer, std::size_t size) = 0;
};

// An export file being written. Consumers see it only once Commit succeeds
// (or, where the OS cannot hide it, it is locked against them until then).
// Destroying it without a successful Commit removes what was written, so a
// half-written export never reaches the software that imports it.
class OutputFile {
  public:
    virtual ~OutputFile() = default;
    virtual bool Write(const void* data, std::size_t size) = 0;
    virtual bool Commit() = 0;
};

class Platform {
  public:
    virtual ~Platform() = default;

    // '\\' on Windows, '/' elsewhere: the core builds paths with it.
    virtual char PathSeparator() const = 0;
    virtual std::string ExecutablePath() const = 0;
    virtual bool IsDirectory(const std::string& path) const = 0;
    // One level: fails when the parent is missing or the name is taken.
    virtual bool MakeDirectory(const std::string& path) const = 0;
    // The whole file as bytes; false when it is missing, unreadable or held
    // open for writing by another program.
    virtual bool ReadSettingsFile(const std::string& path, std::string& content) const = 0;
    // True for an existing file; a directory does not count.
    virtual bool FileExists(const std::string& path) const = 0;
    virtual std::unique_ptr<InputFile> OpenExclusive(const std::string& path) const = 0;
    // Creates the export at `path`, replacing any file of that name on Commit.
    virtual std::unique_ptr<OutputFile> CreateExport(const std::string& path) const = 0;
    // Copies the file `from` to `to`, which must not exist yet, byte for
    // byte, and returns once the copy is on disk. On a failure nothing is
    // left at `to`. Reads even a file that another program holds open, as
    // far as the system lets it.
    virtual bool CopyToNewFile(const std::string& from, const std::string& to) const = 0;
    virtual LocalDateTime LocalTime() const = 0;
    // A path of this system's narrow functions as UTF-16, for a component
    // that takes wide paths: converted from the code page in which the
    // system gave the path out (the ANSI code page on Windows, whatever the
    // system's language; code page 1252 elsewhere), so that the component
    // names the very file the service then opens by its narrow path.
    virtual std::u16string WidePath(const std::string& path) const = 0;
    // The system's text for why this thread's latest failed operation failed
    // (of the ones above, or of a file they returned); ask at once, before
    // anything else can overwrite it.
    virtual std::string LastErrorText() const = 0;
};

// The implementation this build links.
Platform& NativePlatform();

// The user's regional decimal separator, read from the OS once per call;
// callers read it once at start-up and pass it on.
char UserDecimalSeparator();

// Text in code page 1252 as the local terminal wants it (UTF-8 on POSIX).
std::string TerminalText(std::string_view cp1252);

}  // namespace vorlund
