// Files that are on the disk when the call returns: a power cut right after
// it can neither leave them empty nor lose their names. The terminal forgets
// a delivery once it is acknowledged, and the stock system imports an export
// once it appears, so X.DAT, the ledger, the exports and the kept files are
// all written this way, through one table of system calls.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/platform.h"
#include "platform/posix/system_calls.h"

namespace vorlund {

// The directory part of `path`: "." for a bare name, "/" for the root.
std::string DirectoryOf(const std::string& path);

// The failure of the call that just set errno, with the system's text.
Failure SystemFailure(int error);

// Flushes the directory's entries, so a name made in it stays made.
Status SyncDirectory(SystemCalls& calls, const std::string& directory);

// A new, hidden file beside `path`, to be written and then published there.
// Never opens a file that is there already.
Result<std::unique_ptr<StagedFile>> CreateStagedFile(SystemCalls& calls, const std::string& path);

// Moves `temporary` over `path` and flushes the directory.
Status PublishDurably(SystemCalls& calls, const std::string& temporary, const std::string& path);

// A second name `to` for the file `from`, flushed to disk; fails when `to`
// exists.
Status LinkDurably(SystemCalls& calls, const std::string& from, const std::string& to);

// The log at `path`, made when missing (and its directory flushed), cut to
// `keep` bytes, with room set aside for records to come.
Result<std::unique_ptr<AppendFile>> OpenAppendFile(SystemCalls& calls, const std::string& path,
                                                   std::uint64_t keep);

}  // namespace vorlund
