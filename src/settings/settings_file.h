#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vorlund {

// Vorlund.ini read as a plain list of Name=Value lines (no sections): the
// first line whose name matches a key, without regard to letter case, wins.
class SettingsFile {
  public:
    // Never fails: a file that cannot be read gives no lines. Whether the
    // file was read.
    bool Load(const Platform& platform, const std::string& path);
    // Splits settings text into lines: a line ends at CR, LF or CR LF, and a
    // NUL byte ends the text.
    void LoadText(std::string_view text);
    // The text after the first '=' of the first matching line, or empty.
    std::string Value(std::string_view name) const;
    // Every line, as read, without its line end.
    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    std::vector<std::string> lines_;
};

}  // namespace vorlund
