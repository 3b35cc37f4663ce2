// Files of the Windows platform: reading, and the durable writes of the
// hand-off (staged files moved into place with write-through, the ledger's
// log flushed record by record, kept copies flushed before they count).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "common/result.h"
#include "platform/platform.h"
#include "platform/win32/unique_handle.h"

namespace vorlund {

// The failure of the call that just set the thread's last error, with the
// system's text for it.
Failure LastSystemFailure();

class Win32InputFile final : public InputFile {
  public:
    explicit Win32InputFile(UniqueHandle handle) : handle_(std::move(handle)) {}
    std::int64_t Read(void* buffer, std::size_t size) override;

  private:
    UniqueHandle handle_;
};

Status WriteAllTo(HANDLE handle, std::string_view bytes);

Result<std::unique_ptr<StagedFile>> CreateStagedFile(const std::string& path);
Status MoveDurably(const std::string& from, const std::string& to, bool replace);
Status CopyDurably(const std::string& from, const std::string& to);
Result<std::unique_ptr<AppendFile>> OpenAppendFile(const std::string& path, std::uint64_t keep);

}  // namespace vorlund
