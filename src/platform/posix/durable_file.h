// Files that are on the disk when the call returns: a power cut right after
// it can neither leave them empty nor lose their names. The terminal forgets
// a delivery once it is acknowledged, and the stock system imports an export
// once it appears, so both are written this way.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/unique_fd.h"

namespace vorlund {

// The directory part of `path`: "." for a bare name, "/" for the root.
std::string DirectoryOf(const std::string& path);

// Flushes the directory's entries, so a file renamed into it stays renamed.
bool SyncDirectory(const std::string& directory);

// Creates a new, hidden file beside `path` to be written and then moved to
// `path`; its name goes to `temporary`. Never opens a file that is there.
// On a failure the descriptor is invalid and errno says why.
UniqueFd CreateTemporaryBeside(const std::string& path, std::string& temporary);

// Writes all of `bytes`; 0, or the errno of the write that failed.
int WriteAll(int fd, std::string_view bytes);

// Replaces the file at `path` with `data`, whole or not at all: written under
// a hidden temporary name beside it, flushed, renamed into place, and the
// directory flushed. Returns 0, or the errno of the step that failed; no
// temporary file is left behind, and on a failure before the rename the
// earlier file at `path` is untouched.
int ReplaceFileDurably(const std::string& path, std::string_view data);

}  // namespace vorlund
