// The operations the portable core needs of the operating system. Each build
// links exactly one implementation (posix or win32); tests wrap it to make any
// single operation fail. Handles cross this boundary as objects that release
// themselves, so no caller can leak one on an early return, and a failed
// operation answers with the system's reason for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace vorlund {

struct LocalDateTime {
    unsigned year = 0;
    unsigned month = 0;  // 1..12
    unsigned day = 0;    // 1..31
    unsigned hour = 0;   // 0..23
    unsigned minute = 0;
    unsigned second = 0;
};

// A file opened for reading.
class InputFile {
  public:
    virtual ~InputFile() = default;
    // Bytes read into `buffer`, 0 at the end of the file, -1 on failure.
    virtual std::int64_t Read(void* buffer, std::size_t size) = 0;
};

// A file written under a hidden temporary name beside the path it is meant
// for, where nobody sees it until it is published whole. Destroying it
// unpublished removes the temporary file, unless KeepTemporary was called.
class StagedFile {
  public:
    enum class Placement {
        kReplace,  // replaces whatever file has the name
        kNew,      // fails when a file has the name
    };

    virtual ~StagedFile() = default;
    virtual Status Write(std::string_view bytes) = 0;
    // Puts what was written, and the temporary name, on disk and closes the
    // file; nothing can be written after it. A record may then name the
    // temporary file: a power cut cannot take it away.
    virtual Status Finish() = 0;
    // Moves the finished file to its path; returns once the name is on disk.
    // When it fails after the move (the name could not be made durable), the
    // file is at its path all the same.
    virtual Status Publish(Placement placement) = 0;
    // The file has left its temporary name for its path (even when Publish
    // then failed).
    virtual bool Moved() const = 0;
    virtual const std::string& TemporaryPath() const = 0;
    // The temporary file outlives this object: a record names it, and a
    // restart finishes the move.
    virtual void KeepTemporary() = 0;
};

// A file that grows only at its end; each record is on disk when Append
// returns.
class AppendFile {
  public:
    virtual ~AppendFile() = default;
    virtual Status Append(std::string_view record) = 0;
};

class Platform {
  public:
    virtual ~Platform() = default;

    // '\\' on Windows, '/' elsewhere: the core builds paths with it.
    virtual char PathSeparator() const = 0;
    virtual std::string ExecutablePath() const = 0;
    virtual bool IsDirectory(const std::string& path) const = 0;
    // One level: fails when the parent is missing or the name is taken.
    virtual Status MakeDirectory(const std::string& path) const = 0;
    // The whole file as bytes; false when it is missing, unreadable or held
    // open for writing by another program.
    virtual bool ReadSettingsFile(const std::string& path, std::string& content) const = 0;
    // True for an existing file; a directory does not count.
    virtual bool FileExists(const std::string& path) const = 0;
    // Nobody else may open the file while it is held.
    virtual Result<std::unique_ptr<InputFile>> OpenExclusive(const std::string& path) const = 0;
    // Reads even a file that another program holds open, as far as the
    // system lets it.
    virtual Result<std::unique_ptr<InputFile>> OpenForReading(const std::string& path) const = 0;
    // A new, empty staged file for `path`.
    virtual Result<std::unique_ptr<StagedFile>> CreateStaged(const std::string& path) const = 0;
    // Finishes the publication of a staged file that a restart left behind:
    // moves `temporary` over `path` and puts the name on disk.
    virtual Status PublishTemporary(const std::string& temporary,
                                    const std::string& path) const = 0;
    // Makes `to`, which must not exist yet, a copy of `from` that stays what
    // `from` is now, and returns once it is on disk. Where the system can, it
    // takes no space for the bytes (a second name for the same file), so that
    // a full disk cannot stop it; that is safe only because the service
    // replaces X.DAT by a new file rather than rewriting it. Nothing is left
    // at `to` on a failure.
    virtual Status KeepAs(const std::string& from, const std::string& to) const = 0;
    // Opens the log at `path` for appending, made when missing and cut to its
    // first `keep` bytes (a record torn by a power cut goes). Room is set
    // aside where the system allows it, so that records still fit on a disk
    // that has filled up since.
    virtual Result<std::unique_ptr<AppendFile>> OpenAppend(const std::string& path,
                                                           std::uint64_t keep) const = 0;
    virtual Status RemoveFile(const std::string& path) const = 0;
    // What the file system says of the file as it is now, as one text: its
    // size and last-write time and, where the system keeps one that lasts,
    // its number on its volume. Renaming the file keeps it; writing it, or
    // another file with the same bytes written later, changes it.
    virtual Result<std::string> FileIdentity(const std::string& path) const = 0;
    // The names in a directory, "." and ".." left out; empty when it cannot
    // be read.
    virtual std::vector<std::string> ListDirectory(const std::string& path) const = 0;

    virtual LocalDateTime LocalTime() const = 0;
    // The local date and time of an instant as SystemTimeMs gives one: for
    // an operator reading when a delivery arrived. None where this platform
    // does not say.
    virtual std::optional<LocalDateTime> LocalTimeAt(std::int64_t /*ms*/) const {
        return std::nullopt;
    }
    // Milliseconds since 1970-01-01 UTC: for records that must keep their
    // meaning across a restart.
    virtual std::int64_t SystemTimeMs() const = 0;
    // Hands memory that a large delivery used and has freed back to the
    // system, so a resident service does not keep its peak for good.
    virtual void ReleaseFreeMemory() const = 0;

    // A path of this system's narrow functions as UTF-16, for a component
    // that takes wide paths: converted from the code page in which the
    // system gave the path out (the ANSI code page on Windows, whatever the
    // system's language; code page 1252 elsewhere), so that the component
    // names the very file the service then opens by its narrow path.
    virtual std::u16string WidePath(const std::string& path) const = 0;
};

// The implementation this build links.
const Platform& NativePlatform();

// The user's regional decimal separator, read from the OS once per call;
// callers read it once at start-up and pass it on.
char UserDecimalSeparator();

// Text in code page 1252 as the local terminal wants it (UTF-8 on POSIX).
std::string TerminalText(std::string_view cp1252);

}  // namespace vorlund
