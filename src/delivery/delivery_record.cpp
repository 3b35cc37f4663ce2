#include "delivery/delivery_record.h"

#include <array>
#include <charconv>
#include <utility>

#include "delivery/crc32c.h"

namespace vorlund {
namespace {

constexpr std::array<std::pair<DeliveryState, std::string_view>, 8> kStates = {{
    {DeliveryState::kReceived, "received"},
    {DeliveryState::kFound, "found"},
    {DeliveryState::kExporting, "exporting"},
    {DeliveryState::kExported, "exported"},
    {DeliveryState::kKeeping, "keeping"},
    {DeliveryState::kKept, "kept"},
    {DeliveryState::kSuperseded, "superseded"},
    {DeliveryState::kAdopted, "adopted"},
}};

constexpr char kDigits[] = "0123456789abcdef";

// Names and paths are any bytes: a blank, '%' and whatever is not printable
// ASCII are written as %XX, so fields stay apart and the line stays text.
std::string Escape(std::string_view value) {
    std::string text;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '%') {
            text += '%';
            text += kDigits[byte >> 4];
            text += kDigits[byte & 0xF];
        } else {
            text += c;
        }
    }
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            value += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        value += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return value;
}

template <class Number>
bool ParseNumber(std::string_view text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

std::string Hex32(std::uint32_t value) {
    std::string hex;
    for (int shift = 28; shift >= 0; shift -= 4) {
        hex += kDigits[(value >> shift) & 0xFU];
    }
    return hex;
}

void Field(std::string& line, std::string_view key, std::string_view value) {
    line += ' ';
    line += key;
    line += '=';
    line += Escape(value);
}

// Sets the field `key` of `record` from its text; false for a value that
// does not read. Keys this version does not know are passed over.
bool SetField(DeliveryRecord& record, std::string_view key, const std::string& value) {
    if (key == "arrived") {
        return ParseNumber(value, record.arrived);
    }
    if (key == "seen") {
        return ParseNumber(value, record.lastSeen);
    }
    if (key == "bytes") {
        return ParseNumber(value, record.bytes);
    }
    if (key == "batch") {
        return ParseNumber(value, record.batch);
    }
    if (key == "candidate" || key == "kept-only") {
        bool& flag = key == "candidate" ? record.candidate : record.keptOnly;
        flag = value == "1";
        return value == "1" || value == "0";
    }
    if (key == "sha256") {
        // Empty for a file that could not be read when it was recorded.
        record.digest = value;
        return value.empty() || value.size() == 64;
    }
    if (key == "name" || key == "size" || key == "modified") {
        DeliveryHeader& header = record.header ? *record.header : record.header.emplace();
        if (key == "name") {
            header.name = value;
            return true;
        }
        if (key == "modified") {
            header.modified = value;
            return true;
        }
        return ParseNumber(value, header.size.emplace());
    }
    std::string* const text = key == "staged"      ? &record.staged
                              : key == "temporary" ? &record.temporary
                              : key == "file"      ? &record.file
                              : key == "result"    ? &record.result
                              : key == "identity"  ? &record.identity
                              : key == "why"       ? &record.why
                              : key == "kept"      ? &record.keptFile
                              : key == "protocol"  ? &record.protocol
                                                   : nullptr;
    if (text) {
        *text = value;
    }
    return true;
}

}  // namespace

std::string EncodeRecord(const DeliveryRecord& record) {
    std::string line = std::to_string(record.number);
    for (const auto& [state, name] : kStates) {
        if (state == record.state) {
            line += ' ';
            line += name;
        }
    }
    Field(line, "arrived", std::to_string(record.arrived));
    Field(line, "seen", std::to_string(record.lastSeen));
    Field(line, "sha256", record.digest);
    Field(line, "bytes", std::to_string(record.bytes));
    if (record.header) {
        Field(line, "name", record.header->name);
        if (record.header->size) Field(line, "size", std::to_string(*record.header->size));
        if (!record.header->modified.empty()) Field(line, "modified", record.header->modified);
    }
    if (record.candidate) {
        Field(line, "candidate", "1");
    }
    if (record.batch != 0) {
        Field(line, "batch", std::to_string(record.batch));
    }
    if (record.keptOnly) {
        Field(line, "kept-only", "1");
    }
    for (const auto& [key, value] : {std::pair<std::string_view, const std::string&>{"protocol", record.protocol},
                                     {"staged", record.staged},
                                     {"temporary", record.temporary},
                                     {"identity", record.identity},
                                     {"file", record.file},
                                     {"result", record.result},
                                     {"why", record.why},
                                     {"kept", record.keptFile}}) {
        if (!value.empty()) Field(line, key, value);
    }
    line += " crc=" + Hex32(Crc32c(line)) + "\n";
    return line;
}

std::optional<DeliveryRecord> DecodeRecord(std::string_view line) {
    const std::size_t crcAt = line.rfind(" crc=");
    if (crcAt == std::string_view::npos || line.size() - crcAt != 13 ||
        line.substr(crcAt + 5) != Hex32(Crc32c(line.substr(0, crcAt)))) {
        return std::nullopt;
    }
    std::string_view rest = line.substr(0, crcAt);
    const auto next = [&rest]() {
        const std::size_t blank = rest.find(' ');
        const std::string_view word = rest.substr(0, blank);
        rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
        return word;
    };
    DeliveryRecord record;
    if (!ParseNumber(next(), record.number)) {
        return std::nullopt;
    }
    const std::string_view state = next();
    bool known = false;
    for (const auto& [value, name] : kStates) {
        if (name == state) {
            record.state = value;
            known = true;
        }
    }
    if (!known) {
        return std::nullopt;
    }
    while (!rest.empty()) {
        const std::string_view field = next();
        const std::size_t equals = field.find('=');
        const std::optional<std::string> value =
            equals == std::string_view::npos ? std::nullopt : Unescape(field.substr(equals + 1));
        if (!value || !SetField(record, field.substr(0, equals), *value)) {
            return std::nullopt;
        }
    }
    return record;
}

}  // namespace vorlund
