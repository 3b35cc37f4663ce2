#include "settings/settings_file.h"

#include <algorithm>

#include "common/cp1252.h"

namespace vorlund {
namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return UpperCp1252(x) == UpperCp1252(y);
           });
}

}  // namespace

bool SettingsFile::Load(const Platform& platform, const std::string& path) {
    std::string content;
    const bool read = platform.ReadSettingsFile(path, content);
    if (!read) {
        content.clear();
    }
    LoadText(content);
    return read;
}

void SettingsFile::LoadText(std::string_view text) {
    lines_.clear();
    text = text.substr(0, text.find('\0'));
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        lines_.emplace_back(text.substr(start, end - start));
        start = end;
        if (start < text.size()) {
            const bool crLf = text.compare(start, 2, "\r\n") == 0;
            start += crLf ? 2 : 1;
        }
    }
}

std::string SettingsFile::Value(std::string_view name) const {
    for (const std::string& line : lines_) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos &&
            EqualIgnoringCase(std::string_view(line).substr(0, equals), name)) {
            return line.substr(equals + 1);
        }
    }
    return {};
}

}  // namespace vorlund
