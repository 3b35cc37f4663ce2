#include "settings/settings_check.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "common/cp1252.h"
#include "settings/parse_integer.h"
#include "settings/protocol_setting.h"

namespace vorlund {
namespace {

enum class Kind { kText, kPath, kInteger, kProtocol };

struct Key {
    std::string_view name;
    Kind kind;
    std::string_view fallback;  // what a value that is not valid gives
};

constexpr Key kKeys[] = {
    {"OutDir", Kind::kPath, ""},
    {"OutFile", Kind::kText, ""},
    {"COM-Port", Kind::kInteger, "0"},
    {"BaudRate", Kind::kInteger, "5 (115200 bit/s)"},
    {"UseQuotes", Kind::kInteger, "0 (no quotes)"},
    {"Separator", Kind::kInteger, "0 (a comma)"},
    {"Aggregation", Kind::kInteger, "1 (summed per article code)"},
    {"SerialDevice", Kind::kPath, ""},
    {"Protocol", Kind::kProtocol, "auto"},
};

std::string Folded(std::string_view text) {
    std::string folded;
    for (const char c : text) {
        folded += UpperCp1252(c);
    }
    return folded;
}

const Key* FindKey(std::string_view name) {
    const std::string folded = Folded(name);
    for (const Key& key : kKeys) {
        if (Folded(key.name) == folded) {
            return &key;
        }
    }
    return nullptr;
}

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsRelative(std::string_view path, char separator) {
    const bool rooted = !path.empty() && (path[0] == separator || path[0] == '/');
    const bool drive = path.size() > 1 && path[1] == ':';
    return !rooted && !drive;
}

// What is wrong with `value` for `key`; empty when nothing is.
std::string ValueProblem(const Key& key, std::string_view value, char separator) {
    if (value.empty()) {
        return {};  // the default, on purpose
    }
    switch (key.kind) {
        case Kind::kInteger: {
            const std::optional<std::int32_t> number = ParseInteger(value);
            if (!number) {
                return "not a whole number, so " + std::string(key.fallback) + " is used";
            }
            if (key.name == "BaudRate" && (*number < 0 || *number > 5)) {
                return "not one of 0 to 5 (4800 to 115200 bit/s: see the file's own comment), "
                       "so " + std::string(key.fallback) + " is used";
            }
            return {};
        }
        case Kind::kProtocol:
            return ParseProtocolChoice(value)
                       ? std::string()
                       : "not auto, ZMODEM, YMODEM or XMODEM, so auto is used";
        case Kind::kPath:
            if (key.name == "OutDir" && Trimmed(value) == value && IsRelative(value, separator)) {
                return "a relative path, which is taken from the service's working directory, "
                       "not from its application directory: give the whole path";
            }
            [[fallthrough]];
        case Kind::kText:
            if (Trimmed(value) != value) {
                return "a blank at the start or end of the value is part of it";
            }
            return {};
    }
    return {};
}

}  // namespace

std::vector<SettingsFinding> CheckSettings(const SettingsFile& file, char separator) {
    std::vector<SettingsFinding> findings;
    std::map<std::string_view, std::size_t> setOn;
    const auto& lines = file.Lines();
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const std::string& line = lines[index];
        const auto found = [&](std::string problem) {
            findings.push_back({index + 1, line, std::move(problem)});
        };
        const std::string_view content = Trimmed(line);
        if (content.empty() || content[0] == ';' || content[0] == '#' || content[0] == '[') {
            continue;  // blank, a comment or a section header
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            found("no '=' in it, so it sets nothing");
            continue;
        }
        const std::string_view name = std::string_view(line).substr(0, equals);
        const std::string_view value = std::string_view(line).substr(equals + 1);
        if (const Key* key = FindKey(name)) {
            if (const auto earlier = setOn.find(key->name); earlier != setOn.end()) {
                found(std::string(key->name) + " is set on line " +
                      std::to_string(earlier->second) +
                      " already, and the first line counts: this one is passed over");
                continue;
            }
            setOn.emplace(key->name, index + 1);
            if (std::string problem = ValueProblem(*key, value, separator); !problem.empty()) {
                found(std::move(problem));
            }
            continue;
        }
        if (const Key* key = FindKey(Trimmed(name))) {
            found("a blank around '=' is part of the name, so the line does not set " +
                  std::string(key->name) + ": write " + std::string(key->name) + "=" +
                  std::string(Trimmed(value)));
            continue;
        }
        if (index == 0 && name.substr(0, 3) == "\xEF\xBB\xBF") {
            found("the file begins with a byte-order mark (saved as UTF-8 with BOM), which "
                  "becomes part of this line's name: save it without one");
            continue;
        }
        found("no such key, so the line is passed over (the keys: OutDir, OutFile, COM-Port, "
              "SerialDevice, BaudRate, Protocol, Separator, UseQuotes, Aggregation)");
    }
    return findings;
}

}  // namespace vorlund
