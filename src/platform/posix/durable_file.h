// Files that are on the disk when the call returns: a power cut right after
// it can neither leave them empty nor lose their names. The terminal forgets
// a delivery once it is acknowledged, and the stock system imports an export
// once it appears, so X.DAT, the ledger, the exports and the kept files are
// all written this way, through one table of system calls.
//
// Where a file system cannot do a step (flush a directory, make a hard link)
// the step is done as well as it allows, and the observer hears of it: an
// SD card or a network share must not stop the deliveries.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/platform.h"
#include "platform/posix/file_system_observer.h"
#include "platform/posix/system_calls.h"

namespace vorlund {

// The way to the disk: every durable step goes through `calls`, and what a
// file system could not do is told to `observer`.
struct DiskAccess {
    SystemCalls& calls;
    FileSystemObserver& observer;
};

// The directory part of `path`: "." for a bare name, "/" for the root.
std::string DirectoryOf(const std::string& path);

// The failure of the call that just set errno, with the system's text.
Failure SystemFailure(int error);

// Flushes the directory's entries, so a name made in it stays made. A file
// system that cannot flush a directory at all is no failure: the names stand
// as the system writes them back, and the observer hears of it.
Status SyncDirectory(const DiskAccess& disk, const std::string& directory);

// A new, hidden file beside `path`, to be written and then published there.
// Never opens a file that is there already.
Result<std::unique_ptr<StagedFile>> CreateStagedFile(const DiskAccess& disk,
                                                     const std::string& path);

// Moves `temporary` over `path` and flushes the directory.
Status PublishDurably(const DiskAccess& disk, const std::string& temporary,
                      const std::string& path);

// `to`, which must not exist, made to hold what `from` holds now, flushed to
// disk: a second name for the file where the file system has hard links,
// else a copy written whole under a temporary name before it takes its
// name. Nothing is left at `to` on a failure.
Status KeepDurably(const DiskAccess& disk, const std::string& from, const std::string& to);

// The log at `path`, made when missing (and its directory flushed), cut to
// `keep` bytes, with room set aside for records to come.
Result<std::unique_ptr<AppendFile>> OpenAppendFile(const DiskAccess& disk, const std::string& path,
                                                   std::uint64_t keep);

}  // namespace vorlund
